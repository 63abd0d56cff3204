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

.PHONY: run test test-debian13 bootstrap configure build install package bench fuzz sanitized clean format

# What each job installs (scripts/bootstrap): `make run`, `make install` and
# `make package` only what building and running Lumacap needs, and build
# neither the tests nor the benchmarks; the test jobs add the test desktops,
# terminals and tools.
APP_ONLY = -DLUMACAP_TESTS=OFF -DLUMACAP_BENCH=OFF
WITH_TESTS = -DLUMACAP_TESTS=ON -DLUMACAP_BENCH=ON

run: JOB = run
run: OPTIONS = $(APP_ONLY)
run: build
	$(BUILD)/bin/lumacap

# ctest runs one process per test; then the unit and application tests run
# once more built with ASan and UBSan (build-asan/), each program as a single
# process, so that tests cannot depend on running alone either; then the
# fuzzers run. The headless Wayland desktops (label wayland) run after the
# rest; on a loaded machine a desktop's portal may miss its deadline, so a
# desktop whose run failed gets up to two more runs, each on a fresh desktop (scripts/run-desktop-tests); one that
# passes only then is named as a FLAKE, with the tests that had failed.
#
# Then Lumacap is built once more on Debian 13 (GCC 14, Qt 6.8, CMake 3.31) in
# a root file system of its own (scripts/debian13-image: created on the first
# run, reused after), warning-free, with every source file of a target compiled
# as one batch, so that names private to two files of a target cannot meet;
# its unit programs run there, then the desktop tests on Debian 13's desktops
# (sway, KWin, labwc and GNOME Shell 48),
# with the same further runs for a failed desktop (or failed unit tests), a
# test that passes only on one of them named as a flake.
test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS) -LE wayland
	scripts/run-desktop-tests $(BUILD)
	JOBS=$(JOBS) scripts/run-sanitized-tests
	scripts/run-fuzzers
	JOBS=$(JOBS) scripts/debian13-image test

# Only the Debian 13 part; LUMACAP_DEBIAN13_DESKTOPS (a ctest regular
# expression) picks other desktops there, e.g. 'wayland:sway'.
test-debian13: bootstrap
	JOBS=$(JOBS) scripts/debian13-image test

JOB ?= test
OPTIONS ?= $(WITH_TESTS)

bootstrap:
	scripts/bootstrap $(JOB)

configure: bootstrap
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(OPTIONS) $(LAUNCHER)

build: configure
	cmake --build $(BUILD) -j $(JOBS)

install: JOB = run
install: OPTIONS = $(APP_ONLY)
install: build
	cmake --install $(BUILD) --prefix $(PREFIX)

package: JOB = package
package: OPTIONS = $(APP_ONLY)
package: build
	cmake --build $(BUILD) --target package

fuzz: bootstrap
	scripts/run-fuzzers

bench: build
	scripts/run-benchmarks $(BUILD)

sanitized: bootstrap
	JOBS=$(JOBS) scripts/run-sanitized-tests

clean:
	rm -rf $(BUILD) build-asan build-debian13

format: bootstrap
	clang-format -i $$(git ls-files '*.cpp' '*.h')
