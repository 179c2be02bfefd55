# Quick start: `make run` builds and starts the contact editor under Wine; `make test` builds and runs every test.
# Both install the Debian packages they need when missing (as root or through sudo).
SHELL := /bin/bash
ROOT  := $(abspath .)
JOBS  ?= $(shell nproc)
CMAKE_GEN := -G Ninja
NATIVE := build/native
WIN32  := build/win32
BENCH  := build/bench
FUZZ   := build/fuzz
Q := @

.PHONY: all build native win32 run test test-native test-win32 bench fuzz clean deps-build deps-run deps-test

all: build

deps-build: ; $(Q)tools/deps.sh build
deps-run:   ; $(Q)tools/deps.sh run
deps-test:  ; $(Q)tools/deps.sh test

$(NATIVE)/build.ninja: | deps-build
	$(Q)mkdir -p build && cmake -S . -B $(NATIVE) $(CMAKE_GEN) -DRVX_SANITIZE=ON >$(NATIVE).configure.log 2>&1 || { cat $(NATIVE).configure.log; exit 1; }

$(WIN32)/build.ninja: | deps-build
	$(Q)mkdir -p build && cmake -S . -B $(WIN32) $(CMAKE_GEN) -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/toolchain-i686-mingw.cmake \
	   -DRVX_HOST_BIN=$(ROOT)/$(NATIVE)/bin >$(WIN32).configure.log 2>&1 || { cat $(WIN32).configure.log; exit 1; }

native: $(NATIVE)/build.ninja
	$(Q)tools/quiet-build.sh $(NATIVE) $(JOBS)

win32: native $(WIN32)/build.ninja
	$(Q)tools/quiet-build.sh $(WIN32) $(JOBS)

build: native win32

run: deps-run build
	$(Q)tools/run-contacts.sh $(WIN32)

test-native: deps-test native
	$(Q)ctest --test-dir $(NATIVE) -j$(JOBS) --output-on-failure --no-tests=ignore $(CTEST_ARGS)

test-win32: deps-test win32
	$(Q)RVX_WINE_BUILD=$(ROOT)/$(WIN32) RVX_WINE_OPTIONAL=1 tools/wine-session.sh \
	   ctest --test-dir $(WIN32) -j$(JOBS) --output-on-failure --no-tests=ignore $(CTEST_ARGS)

test: test-native test-win32

bench: native
	$(Q)tools/deps.sh bench
	$(Q)[ -f $(BENCH)/build.ninja ] || cmake -S . -B $(BENCH) $(CMAKE_GEN) -DCMAKE_BUILD_TYPE=Release -DRVX_BENCH=ON -DRVX_TESTS=OFF >/dev/null
	$(Q)tools/quiet-build.sh $(BENCH) $(JOBS)
	$(Q)tools/run-benches.sh $(BENCH)
	$(Q)$(MAKE) --no-print-directory win32 && ninja -C $(WIN32) bench_symbols >/dev/null && echo "== bench_symbols (Wine)" && \
	   RVX_WINE_BUILD=$(ROOT)/$(WIN32) tools/wine-exec.sh $(WIN32)/bin/bench_symbols.exe

fuzz:
	$(Q)tools/deps.sh fuzz
	$(Q)[ -f $(FUZZ)/build.ninja ] || CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_GEN) -DRVX_FUZZ=ON -DRVX_TESTS=OFF >/dev/null
	$(Q)tools/quiet-build.sh $(FUZZ) $(JOBS)
	$(Q)echo "Fuzz targets in $(FUZZ)/bin; run one with: tools/fuzz.sh NAME SECONDS"

clean:
	rm -rf build
