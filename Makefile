# The two commands of the README:
#   make run    set everything up, build, and start Lumacap in the tray
#   make test   set everything up, build, and run the whole test suite
# Installing:
#   make install PREFIX=~/.local   (DESTDIR=… stages it for packaging)
#   make package                   the Debian package, in $(BUILD)/
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local

.PHONY: run test bootstrap configure build install package bench fuzz clean format

run: build
	$(BUILD)/bin/lumacap

# After ctest (one process per test), each test program runs once more as a
# single process, so that tests cannot depend on running alone.
TEST_PROGRAMS = core_tests cli_tests app_tests platform_tests integration_tests

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)
	for program in $(TEST_PROGRAMS); do \
	  LUMACAP_BINARY=$(abspath $(BUILD))/bin/lumacap $(BUILD)/bin/$$program --gtest_brief=1 || exit 1; \
	done
	scripts/run-fuzzers

bootstrap:
	scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo

build: configure
	cmake --build $(BUILD) -j $(JOBS)

install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	cmake --build $(BUILD) --target package

fuzz: bootstrap
	scripts/run-fuzzers

bench: build
	scripts/run-benchmarks $(BUILD)

clean:
	rm -rf $(BUILD)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
