# The two commands of the README: `make demo` and `make test`. Both install what is missing first.
BUILD_DIR := build
JOBS := $(shell nproc)

.PHONY: all deps build demo test bench clean

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

# Benchmarks, with OpenCV's contrib module installed for the graph-segmentation yardstick.
bench:
	LABELER_BENCH_DEPS=1 ./scripts/install-deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=Release
	cmake --build $(BUILD_DIR) -j $(JOBS) --target labeler_bench
	$(BUILD_DIR)/labeler_bench $(BENCH_ARGS)

clean:
	rm -rf $(BUILD_DIR)
