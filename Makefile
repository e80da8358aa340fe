# The two commands of the README: `make run` and `make test`. Both install what is missing first.
PRESET ?= dev
JOBS ?= 2

.PHONY: deps configure build test test-asan test-tsan run bench format lint clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

run:
	@echo "The Stayloom program is not built yet: only the core library and its tests exist so far."
	@echo "Use 'make test' to build and test NodwardenCore."

bench:
	$(MAKE) build PRESET=release
	@for b in build/release/Benchmarks/*Benchmark; do [ -x "$$b" ] && "$$b"; done

format:
	@git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

clean:
	rm -rf build
