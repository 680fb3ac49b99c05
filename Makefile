# The two commands of a fresh machine: `make run` and `make test`.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test run serve format format-check clean

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

format:
	./scripts/check-format --fix

format-check:
	./scripts/check-format

clean:
	rm -rf build
