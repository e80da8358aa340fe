# The two commands of the README: `make run` and `make test`. Both install what is missing first.
PRESET ?= dev
JOBS ?= 2

.PHONY: deps configure build test test-asan test-tsan run install package check-package check-package-install check-includes check-sources bench fuzz format format-check lint clean

deps:
	@bash scripts/install-deps.sh

configure: deps
	cmake --preset $(PRESET)

# Under ThreadSanitizer only the test programs of the threaded components are built and run: the
# serial queue and the logger's queue, the command runner, the sleep controller, the hook witness,
# and the model's detection and sleep-command workers (its tests drive both through real queues).
TSAN_TESTS := SerialQueueTests FileLoggerTests ShellCommandTests SleepControllerTests \
  SleepControllerLidClosedTests HookWitnessTests AppModelTests AppModelEvaluationTests
empty :=
space := $(empty) $(empty)
ifeq ($(PRESET),tsan)
BUILD_TARGETS := --target $(TSAN_TESTS)
CTEST_ARGS := -L '^($(subst $(space),|,$(TSAN_TESTS)))$$'
endif

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS) $(BUILD_TARGETS)

test: build
	ctest --preset $(PRESET) $(CTEST_ARGS)

test-asan:
	$(MAKE) test PRESET=asan

test-tsan:
	$(MAKE) test PRESET=tsan

# Builds everything (program, helpers, tests) and starts the program from the build tree; it finds
# its helpers in build/<preset>/libexec/stayloom. Without a display it prints status lines.
run: build
	./build/$(PRESET)/Sources/NodwardenApp/Stayloom

# A hardened release build, as the package's, installed under PREFIX (/usr/local unless given;
# DESTDIR as usual): program, helpers, desktop entry, metainfo, manual page, shell completions.
PREFIX ?= /usr/local
install: deps
	cmake --preset package -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build --preset package -j $(JOBS)
	cmake --install build/package --prefix $(PREFIX)

# The Debian package, from a hardened release build installed under /usr (tests not built):
# build/package/stayloom_<version>_<arch>.deb.
package: deps
	cmake --preset package
	cmake --build --preset package -j $(JOBS) --target package

# lintian, the desktop entry and metainfo validators, and the unpacked program run once.
check-package: package
	bash scripts/check-package.sh build/package/stayloom_*.deb

# Installs the package for real (root only), checks PATH, menu entry, helpers and the polkit
# action, then removes it again.
check-package-install: package
	bash scripts/check-package-install.sh build/package/stayloom_*.deb

# Includes run one way: main → faces and wiring (ui, terminal, control, platform) → model → core.
check-includes:
	bash scripts/check-include-direction.sh

# Every .cpp under Sources/ is compiled by the configuration CI builds, every header included.
check-sources: configure
	bash scripts/check-sources-built.sh build/$(PRESET)

bench:
	$(MAKE) build PRESET=release
	@for b in build/release/Benchmarks/*Benchmark; do [ -x "$$b" ] && "$$b"; done

# Each fuzzer runs FUZZ_RUNS inputs from its seeds; what it learns stays in build/fuzz/corpus.
FUZZ_RUNS ?= 20000
FUZZ_SECONDS ?= 600
fuzz: deps
	@command -v clang++ >/dev/null || { echo "make fuzz needs clang (apt-get install clang)"; exit 1; }
	cmake --preset fuzz
	cmake --build --preset fuzz --target fuzzers -j $(JOBS)
	@set -e; for f in build/fuzz/Fuzz/*Fuzzer; do \
	  name=$$(basename $$f); mkdir -p build/fuzz/corpus/$$name build/fuzz/findings; \
	  echo "== $$name"; \
	  $$f -runs=$(FUZZ_RUNS) -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 \
	      -artifact_prefix=build/fuzz/findings/$$name- \
	      build/fuzz/corpus/$$name Fuzz/corpus/$$name 2>&1 | grep -E '^(stat::number_of_executed_units|==|SUMMARY|property broken|INFO: Done)' || true; \
	  [ -z "$$(ls build/fuzz/findings/$$name-* 2>/dev/null)" ] || { echo "$$name: finding kept in build/fuzz/findings"; exit 1; }; \
	done

format:
	@git ls-files '*.cpp' '*.hpp' | xargs clang-format -i

# Fails on any file clang-format would change; CI runs it.
format-check: deps
	@git ls-files '*.cpp' '*.hpp' | xargs clang-format --dry-run --Werror

# clang-tidy with the repository's .clang-tidy over every source file of the dev build; any finding
# fails (.clang-tidy makes every warning an error). `build` first: it needs the compile commands
# and the generated headers.
lint: build
	run-clang-tidy -p build/$(PRESET) -j $(JOBS) -quiet \
	  -extra-arg=-Wno-unknown-warning-option -extra-arg=-Wno-c99-extensions '$(CURDIR)/(Sources|Benchmarks)/.*\.cpp$$'

clean:
	rm -rf build
