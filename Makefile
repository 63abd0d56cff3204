# The two commands of the README:
#   make run    set everything up, build, and start Lumacap in the tray
#   make test   set everything up, build, and run the whole test suite
# Installing:
#   make install PREFIX=~/.local   (DESTDIR=… stages it for packaging)
#   make package                   the Debian package, in $(BUILD)/
BUILD ?= build
JOBS ?= $(shell nproc)
PREFIX ?= /usr/local
# A compiler cache, when one is installed, makes rebuilds of other checkouts quick.
LAUNCHER = $(if $(shell command -v ccache),-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)

.PHONY: run test bootstrap configure build install package bench fuzz sanitized clean format

run: build
	$(BUILD)/bin/lumacap

# ctest runs one process per test; then the unit and application tests run
# once more built with ASan and UBSan (build-asan/), each program as a single
# process, so that tests cannot depend on running alone either; then the
# fuzzers run. The headless Wayland desktops (label wayland) run after the
# rest; on a loaded machine a desktop's portal may miss its deadline, and the
# headless GNOME Shell now and then passes no injected input to the region
# overlay for a whole run, so a desktop whose run failed gets up to two more
# runs, each on a fresh desktop.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE wayland
	cd $(BUILD) && ctest --output-on-failure -L wayland --repeat until-pass:3
	JOBS=$(JOBS) scripts/run-sanitized-tests
	scripts/run-fuzzers

bootstrap:
	scripts/bootstrap

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(LAUNCHER)

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

sanitized: bootstrap
	JOBS=$(JOBS) scripts/run-sanitized-tests

clean:
	rm -rf $(BUILD) build-asan

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')
