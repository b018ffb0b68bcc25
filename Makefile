# Set-up and everyday entry points. Each target installs what is missing first.
CMAKE_ARGS ?=

.PHONY: deps windows-deps build test asan-test windows windows-test demo bench fuzz package clean

deps:
	@scripts/install-deps.sh

windows-deps:
	@scripts/install-deps.sh windows
	@scripts/build-windows-deps.sh build/windows-deps

build: deps
	cmake --preset release $(CMAKE_ARGS)
	cmake --build --preset release

test: build
	ctest --preset release -j2

asan-test: deps
	cmake --preset asan $(CMAKE_ARGS)
	cmake --build --preset asan
	ctest --preset asan -j2

windows: windows-deps
	cmake --preset windows $(CMAKE_ARGS)
	cmake --build --preset windows

# The unit tests of the Windows build under Wine, then the end-to-end tests (a Linux program)
# against the Windows programs.
windows-test: windows build
	ctest --preset windows -j2
	ORVEX_E2E_EXE=$(CURDIR)/build/windows/src/OrvexMigrate/OrvexMigrate.exe \
	  ORVEX_E2E_INSPECT_EXE=$(CURDIR)/build/windows/src/OrvexInspect/OrvexInspect.exe \
	  ORVEX_E2E_ROLLOUT_EXE=$(CURDIR)/build/windows/src/OrvexMigrate/OrvexRollout.exe \
	  ORVEX_E2E_WINE_PREFIX=$(CURDIR)/build/windows/wine ctest --preset release -R E2e -j2

# Every fuzz target under libFuzzer and the sanitizers, FUZZ_SECONDS each (see scripts/fuzz.sh).
fuzz: deps
	@scripts/install-deps.sh fuzz
	scripts/fuzz.sh

# The Debian package of the Linux build, checked by installing it into a scratch root.
package: build
	rm -f build/release/orvexmigrate_*.deb
	cd build/release && cpack -G DEB
	scripts/check-package.sh build/release/orvexmigrate_*_amd64.deb

demo: build
	scripts/demo.sh build/release

# The benchmark programs on a generated profile archive of SCALE (default 1) and a 60 MB .reg
# file, bench/many_creates.sh, then bench/whole_run.sh (RUNS runs of each tool, default 5; about
# ten minutes at scale 1 on two cores), unless WHOLE_RUN=0. Generated inputs are kept in
# build/bench.
SCALE ?= 1
RUNS ?= 5
WHOLE_RUN ?= 1
bench: build
	@scripts/install-deps.sh bench
	mkdir -p build/bench/scale$(SCALE)
	[ -f build/bench/big.reg ] || python3 bench/gen_profile.py --reg-only 60 -o build/bench/big.reg
	[ -f build/bench/scale$(SCALE)/profile.zip ] || \
	  python3 bench/gen_profile.py -q --scale $(SCALE) -o build/bench/scale$(SCALE)/profile.zip
	for b in build/release/bench/bench_*; do \
	  ORVEX_BENCH_ARCHIVE=build/bench/scale$(SCALE)/profile.zip ORVEX_BENCH_REG=build/bench/big.reg \
	    $$b || exit 1; \
	done
	RUNS=$(RUNS) bench/many_creates.sh build/release
	[ "$(WHOLE_RUN)" = 0 ] || \
	  WORK=$(CURDIR)/build/bench/scale$(SCALE) RUNS=$(RUNS) bench/whole_run.sh build/release

clean:
	rm -rf build
