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
# against the Windows program.
# A test that fails is run once more: under Wine a program has now and then been seen to end at
# once, before any test ran; a real failure fails twice.
windows-test: windows build
	ctest --preset windows -j2 --repeat until-pass:2
	ORVEX_E2E_EXE=$(CURDIR)/build/windows/src/OrvexMigrate/OrvexMigrate.exe \
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

bench: build
	for b in build/release/bench/bench_*; do $$b; done

clean:
	rm -rf build
