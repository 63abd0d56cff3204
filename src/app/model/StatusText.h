#pragma once

// What the model's status line, notes and errors say, in one place.
namespace lumacap::StatusText {

// The capture's PNG bytes could not be produced.
inline constexpr auto fileWriteError = "The file couldn’t be saved.";
inline constexpr auto historyUnreadable =
    "Capture history could not be read, so this capture was not saved. The image is still on the clipboard.";

inline constexpr auto copied = "Image copied to clipboard";
inline constexpr auto copiedForAgent = "Image copied · paste it in your agent";
// A capture the desktop kept off the clipboard: the preview, which has the
// focus, can put it there.
inline constexpr auto notCopied = "Image not copied · use Copy Image in the preview";
inline constexpr auto copyRefused = "Image not copied · the desktop kept it off the clipboard";
// What the clipboard holds after "Revert to original".
inline constexpr auto originalCopied = "Original copied · without your mark-up";
inline constexpr auto unredactedCopied = "Original copied · what you redacted shows again";
inline constexpr auto textCopied = "Text copied";
inline constexpr auto pathsCopied = "Paths of %1 captures copied · one a line";
inline constexpr auto redactedTextCopied = "Text copied · redacted parts read [redacted]";
inline constexpr auto lookingForSecrets = "Looking for secrets before copying…";
inline constexpr auto savedToHistory = "Saved to local history";
// A capture folder that cannot be used, and a move that failed (nothing moved): + why.
inline constexpr auto folderRefused = "Captures can’t be kept there: %1";
inline constexpr auto capturesNotMoved = "No capture was moved, each stays where it was: %1";
inline constexpr auto savedTo = "Saved to ";      // + the exported file's name
inline constexpr auto renamedTo = "Renamed to ";  // + the new name
inline constexpr auto savedAs = "Saved as %1: %2 exists";
inline constexpr auto openedRecord = "Saved capture · ready to copy or stage again";
inline constexpr auto historyNotUpdated =
    ", but history could not be updated: ";  // after the delivery's status

}  // namespace lumacap::StatusText
