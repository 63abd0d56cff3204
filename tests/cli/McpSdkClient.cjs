// The MCP TypeScript SDK's own client against `lumacap mcp`:
//   node McpSdkClient.cjs NPM_TOOLS_FOLDER LUMACAP_BINARY OUTPUT_FOLDER [request]
// Lists the tools, calls them (with `request`: only request_capture, which
// waits for the user), writes each image it gets to OUTPUT_FOLDER and prints
// one JSON object saying what it saw. The SDK checks every answer
// against the protocol's schemas; a failure ends the script with status 1.
const fs = require("node:fs");
const path = require("node:path");
const { createRequire } = require("node:module");

const [tools, binary, output, mode] = process.argv.slice(2);
const sdk = createRequire(path.join(tools, "package.json"));
const { Client } = sdk("@modelcontextprotocol/sdk/client/index.js");
const { StdioClientTransport } = sdk("@modelcontextprotocol/sdk/client/stdio.js");

async function main() {
  const client = new Client({ name: "lumacap-test", version: "1" });
  await client.connect(new StdioClientTransport({ command: binary, args: ["mcp"], env: process.env }));
  const seen = { server: client.getServerVersion(), tools: (await client.listTools()).tools.map((t) => t.name) };
  const call = async (name, args, file, options) => {
    const result = await client.callTool({ name, arguments: args }, undefined, options);
    for (const part of result.content.filter((p) => p.type === "image"))
      fs.writeFileSync(path.join(output, file), Buffer.from(part.data, "base64"));
    return {
      isError: result.isError === true,
      types: result.content.map((p) => `${p.type}${p.mimeType ? ":" + p.mimeType : ""}`),
      text: result.content.find((p) => p.type === "text")?.text,
      structured: "structuredContent" in result,
    };
  };
  const asking = { reason: "the <b>header</b> overlaps", maxEdge: 4096 };
  seen.request = await call("request_capture", asking, "requested.png", { timeout: 150000 });
  if (mode === "request") return finish(client, seen);
  seen.list = await call("list_captures", {});
  seen.latest = await call("get_capture", {}, "latest.png");
  seen.scaled = await call("get_capture", { maxEdge: 16 }, "scaled.png");
  seen.unknown = await call("get_capture", { id: "00000000-0000-0000-0000-000000000000" });
  try {
    await client.callTool({ name: "get_capture", arguments: { maxEdge: "wide" } });
  } catch (error) {
    seen.invalidParams = error.code;
  }
  await finish(client, seen);
}

async function finish(client, seen) {
  await client.close();
  process.stdout.write(JSON.stringify(seen));
}

main().catch((error) => {
  process.stderr.write(`${error.stack}\n`);
  process.exit(1);
});
