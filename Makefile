# The two commands of a fresh machine: `make run` and `make test`.
PRESET ?= dev
BUILD_DIR := build/$(PRESET)

.PHONY: all deps configure build test run serve format format-check clean bench bench-image \
        bench-memory bench-startup install deb fuzz-build fuzz fuzz-smoke translations

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

# Peak resident memory of `zelt-share --headless` on images made to be expensive to decode,
# against a 24 MP photo, in an optimised build; not part of `make test`. BENCH_RUNS sets the
# runs per input.
bench-memory: deps
	cmake --preset $(BENCH_PRESET)
	cmake --build --preset $(BENCH_PRESET) --target zelt-share
	bench/image/memory build/$(BENCH_PRESET) build/bench/image

# A release build (production origin, desktop keyring) installed under PREFIX; DESTDIR stages
# it elsewhere, e.g. for a package. The prefix is configured into the build, as the desktop
# entries name the installed programs by their absolute paths. Builds as the user; only the
# copying goes through sudo, and only where the user cannot write.
PREFIX ?= /usr/local
INSTALL_PRESET ?= release
install: deps
	cmake --preset $(INSTALL_PRESET) -DCMAKE_INSTALL_PREFIX=$(PREFIX)
	cmake --build --preset $(INSTALL_PRESET)
	@target="$(DESTDIR)$(PREFIX)"; while [ ! -e "$$target" ]; do target=$$(dirname "$$target"); done; \
	  sudo=; [ -w "$$target" ] || sudo=sudo; \
	  echo "$$sudo env DESTDIR=$(DESTDIR) cmake --install build/$(INSTALL_PRESET)"; \
	  $$sudo env DESTDIR="$(DESTDIR)" cmake --install build/$(INSTALL_PRESET)

# The Debian packages of debian/ (release configuration, under /usr), written to build/deb with
# their .buildinfo and .changes; the build tree is build/debian.
DEB_DIR := build/deb
deb: deps
	rm -rf $(DEB_DIR) && mkdir -p $(DEB_DIR)
	@set -e; name=$$(dpkg-parsechangelog -S Source)_$$(dpkg-parsechangelog -S Version); \
	  arch=$$(dpkg-architecture -qDEB_HOST_ARCH); \
	  set -x; DEB_BUILD_OPTIONS="parallel=2 $(DEB_BUILD_OPTIONS)" ZELT_DEB_OUTPUT=$(DEB_DIR) \
	  dpkg-buildpackage -b -uc -us --buildinfo-option=-u$(DEB_DIR) --changes-option=-u$(DEB_DIR) \
	    --buildinfo-file=$(DEB_DIR)/$${name}_$${arch}.buildinfo \
	    --changes-file=$(DEB_DIR)/$${name}_$${arch}.changes
	lintian --fail-on error,warning $(DEB_DIR)/*.changes

# Time from exec to the sheet's first frame against a minimal Qt Quick window, in an optimised
# build under Xvfb; not part of `make test`. BENCH_RUNS sets the runs per program.
bench-startup: deps
	cmake --preset $(BENCH_PRESET)
	cmake --build --preset $(BENCH_PRESET) --target zelt-share zelt-minimal-window
	bench/startup/run build/$(BENCH_PRESET)

# Every benchmark in one table, each against its peer in the same run: image preparation, the
# upload of 1 GiB against curl, the inline body's base64, the intake copy against cp and the
# start-up; not part of `make test`. BENCH_RUNS sets the runs of every measurement. Exits
# nonzero when a target is missed, after the table.
BENCH_TARGETS := zelt-prepare-image zelt-share zelt-minimal-window zelt-upload-file \
                 zelt-discard-server zelt-inline-body zelt-intake-copy zelt-devservice \
                 zelt-shaping-relay zelt-curl-share
bench: deps
	cmake --preset $(BENCH_PRESET)
	cmake --build --preset $(BENCH_PRESET) --target $(BENCH_TARGETS)
	bench/run build/$(BENCH_PRESET) build/bench

format:
	./scripts/check-format --fix

# Brings translations/*.ts up to date with the sources: new texts come in unfinished, texts that
# are gone go.
translations: configure
	cmake --build --preset $(PRESET) --target translations

format-check:
	./scripts/check-format

clean:
	rm -rf build

# libFuzzer targets of fuzz/ in a clang build (preset fuzz). `make fuzz` runs each target for
# FUZZ_RUNS executions or FUZZ_SECONDS seconds, whichever ends first, in FUZZ_JOBS worker
# processes (1 unless given); `make fuzz-smoke` runs each over its corpus plus FUZZ_SMOKE_RUNS
# mutations and fails on any finding (part of CI).
FUZZ_BUILD_DIR := build/fuzz
fuzz-build: deps
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: fuzz-build
	fuzz/run long $(FUZZ_BUILD_DIR)

fuzz-smoke: fuzz-build
	fuzz/run smoke $(FUZZ_BUILD_DIR)
