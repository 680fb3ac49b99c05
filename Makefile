# The two commands of a fresh machine: `make run` and `make test`.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test run serve format format-check clean bench-image \
        fuzz-build fuzz fuzz-smoke

all: build

deps:
	./scripts/install-deps

configure:
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET)

test: deps
	$(MAKE) build
	ctest --preset $(PRESET)

# Starts the development service, signs in as the main application would, runs zelt-share
# with ARGS, and stops the service.
run: deps
	$(MAKE) build
	tools/devservice/run-round-trip $(BUILD_DIR) $(ARGS)

# The development service in the foreground; ARGS are its options (see docs/devservice.md).
serve: deps
	$(MAKE) build
	$(BUILD_DIR)/bin/zelt-devservice serve $(ARGS)

# Image preparation against vipsthumbnail and ImageMagick, in an optimised build; not part of
# `make test`. BENCH_RUNS sets the runs per tool and image.
BENCH_PRESET ?= release
bench-image: deps
	cmake --preset $(BENCH_PRESET)
	cmake --build --preset $(BENCH_PRESET) --target zelt-prepare-image
	bench/image/run build/$(BENCH_PRESET)/bin/zelt-prepare-image build/bench/image

format:
	./scripts/check-format --fix

format-check:
	./scripts/check-format

clean:
	rm -rf build

# libFuzzer targets of fuzz/ in a clang build (preset fuzz). `make fuzz` runs each target for
# FUZZ_RUNS executions or FUZZ_SECONDS seconds, whichever ends first; `make fuzz-smoke` runs each
# over its corpus plus FUZZ_SMOKE_RUNS mutations and fails on any finding (part of CI).
FUZZ_BUILD_DIR := build/fuzz
fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: fuzz-build
	fuzz/run long $(FUZZ_BUILD_DIR)

fuzz-smoke: fuzz-build
	fuzz/run smoke $(FUZZ_BUILD_DIR)
