# Set-up and everyday entry points. Each target installs what is missing first.
CMAKE_ARGS ?=

.PHONY: deps build test asan-test demo bench clean

deps:
	@scripts/install-deps.sh

build: deps
	cmake --preset release $(CMAKE_ARGS)
	cmake --build --preset release

test: build
	ctest --preset release -j2

asan-test: deps
	cmake --preset asan $(CMAKE_ARGS)
	cmake --build --preset asan
	ctest --preset asan -j2

demo: build
	scripts/demo.sh build/release

bench: build
	for b in build/release/bench/bench_*; do $$b; done

clean:
	rm -rf build
