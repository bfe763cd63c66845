# The two commands of the README: `make demo` and `make test`. Both install what is missing first.
BUILD_DIR := build
JOBS := $(shell nproc)

.PHONY: all deps build demo test package bench fuzz clean

FUZZ_SECONDS ?= 300
# Left out of the ThreadSanitizer run: long single-threaded work and memory measurements, slow under it and
# covered by the other two runs.
TSAN_SKIPPED := LongSession.*:LongWork.*:CrashSafety.*:LabelerToolCarry.MemoryDoesNotGrowWithTheLengthOfTheClip

all: build

deps:
	./scripts/install-deps

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS)

demo: build
	./scripts/run-demo

test: build
	cd $(BUILD_DIR) && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLABELER_SANITIZE=ON
	cmake --build build-asan -j $(JOBS) --target labeler_tests
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  LSAN_OPTIONS=suppressions=$(CURDIR)/tests/sanitizer-suppressions.txt build-asan/tests/labeler_tests
	cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLABELER_TSAN=ON
	cmake --build build-tsan -j $(JOBS) --target labeler_tests
	TSAN_OPTIONS=suppressions=$(CURDIR)/tests/thread-sanitizer-suppressions.txt build-tsan/tests/labeler_tests \
	  --gtest_filter=-$(TSAN_SKIPPED)
	$(MAKE) fuzz FUZZ_SECONDS=20

# The Debian package of the three programs, their desktop entry and manual pages: build/labeler_VERSION_ARCH.deb.
package: build
	cd $(BUILD_DIR) && cpack -G DEB

# The libFuzzer targets, built with clang, each run FUZZ_SECONDS from its seed corpus in fuzz/corpus.
fuzz: deps
	CXX=clang++-14 cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLABELER_FUZZ=ON
	cmake --build build-fuzz -j $(JOBS) --target fuzzers
	./scripts/run-fuzzers $(FUZZ_SECONDS)

# Benchmarks, with OpenCV's contrib module installed for the graph-segmentation yardstick.
bench:
	LABELER_BENCH_DEPS=1 ./scripts/install-deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target labeler_bench labeler_window_bench
	$(BUILD_DIR)/labeler_bench $(BENCH_ARGS)
	$(BUILD_DIR)/labeler_window_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD_DIR) build-asan build-tsan build-fuzz
