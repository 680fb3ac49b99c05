# The two commands of a fresh machine: `make run` and `make test`.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test run format format-check clean

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

run: deps
	$(MAKE) build
	$(BUILD_DIR)/bin/zelt-share $(ARGS)

format:
	./scripts/check-format --fix

format-check:
	./scripts/check-format

clean:
	rm -rf build
