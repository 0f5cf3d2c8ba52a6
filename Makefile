# The three commands of the README: `make run`, `make test`, `make build`.
# Each installs what is missing first, so a fresh Debian 12 machine needs nothing else.
SHELL := /bin/bash
JOBS ?= $(shell nproc)
ROOT := $(CURDIR)
WIN_DEPS := $(ROOT)/build/windows-deps

# Our own builds treat warnings as errors (a plain CMake build does not).
WERROR := -DVIRIZ_WERROR=ON
CMAKE_LINUX   := cmake -S . -B build/linux -DCMAKE_BUILD_TYPE=RelWithDebInfo $(WERROR)
MINGW         := -DCMAKE_TOOLCHAIN_FILE=$(ROOT)/cmake/mingw-w64.cmake -DVIRIZ_WIN_DEPS=$(WIN_DEPS)
CMAKE_WINDOWS := cmake -S . -B build/windows -DCMAKE_BUILD_TYPE=Release $(MINGW) $(WERROR)
GCC           := -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
CLANG         := -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
# Clang for AddressSanitizer: unoptimised, it calls memcpy for fixed-size
# copies that GCC expands inline, so overlapping copies are reported.
CMAKE_ASAN    := cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DVIRIZ_SANITIZE=address \
                 $(CLANG) $(WERROR)
CMAKE_TSAN    := cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DVIRIZ_SANITIZE=thread $(WERROR)
# The browser build: emscripten's CMake wrapper, the WebAssembly libraries and
# the Linux build's data set; the page and its files go to build/web. emcc's
# link step runs node, which finds Debian's JavaScript modules only through
# NODE_PATH.
WEB_DEPS      := $(ROOT)/build/web-deps
EMSCRIPTEN    := NODE_PATH=/usr/share/nodejs
CMAKE_WEB     := $(EMSCRIPTEN) emcmake cmake -S . -B build/web-cmake -DCMAKE_BUILD_TYPE=Release \
                 -DVIRIZ_WEB_DEPS=$(WEB_DEPS) -DVIRIZ_WEB_DATA=$(ROOT)/build/linux/bin \
                 -DVIRIZ_WEB_OUTPUT=$(ROOT)/build/web $(WERROR)
CMAKE_FUZZ    := cmake -S . -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVIRIZ_FUZZ=ON \
                 $(CLANG) $(WERROR)

# The common configurations, each built (not tested) in build/matrix-NAME with
# warnings as errors: NAME;BUILD_TYPE;CMAKE_ARGUMENTS.
MATRIX := "gcc-debug;Debug;$(GCC)" "gcc-release;Release;$(GCC)" \
          "gcc-relwithdebinfo;RelWithDebInfo;$(GCC)" "gcc-minsizerel;MinSizeRel;$(GCC)" \
          "clang-release;Release;$(CLANG)" "windows-release;Release;$(MINGW)"

.PHONY: run test dist test-dist test-web build deps windows-deps build-linux build-windows build-sanitizers build-fuzz \
        web web-deps serve-web \
        test-linux test-sanitizers test-fuzz test-under-load build-matrix bench format clean

run: deps build-linux
	scripts/run-demo.sh build/linux/bin

test: deps build build-sanitizers build-fuzz web dist
	scripts/run-tests.sh

build: deps build-linux build-windows

# The release files in dist/: the Windows zip, the Debian package, the video
# of the show and SHA256SUMS (see the README's "Releases").
dist: deps build
	scripts/make-dist.sh

# Only the browser build's tests (make test runs them too).
test-web: web
	scripts/run-tests.sh --web

# Only the release files' tests (make test runs them too).
test-dist: dist
	scripts/run-tests.sh --dist

# The end-to-end and audio tests with every core kept busy: run it before
# calling a change to timing-sensitive code done.
test-under-load: deps build build-sanitizers
	scripts/run-tests.sh --under-load

# Configures each configuration of MATRIX and builds its programs (the tests
# and benchmarks build in make test), one after the other (from scratch on a
# clean clone, incrementally after that), and prints each
# one's build time; a failed one shows the end of its log and stops the run.
# The logs stay in build/matrix-NAME.log.
build-matrix: deps windows-deps
	@set -euo pipefail; all=$$(date +%s); count=0; \
	for entry in $(MATRIX); do \
	  IFS=';' read -r name type args <<< "$$entry"; \
	  dir=build/matrix-$$name; log=$$dir.log; start=$$(date +%s); \
	  if ! { cmake -S . -B "$$dir" -DCMAKE_BUILD_TYPE=$$type $$args $(WERROR) && \
	         cmake --build "$$dir" -j$(JOBS) --target programs; } > "$$log" 2>&1; then \
	    tail -n 60 "$$log"; echo "build-matrix: $$name ($$type) failed, log in $$log"; exit 1; \
	  fi; \
	  printf 'build-matrix: %-20s %-15s %5d s\n' "$$name" "$$type" $$(( $$(date +%s) - start )); \
	  count=$$((count + 1)); \
	done; \
	echo "build-matrix: all $$count configurations built in $$(( $$(date +%s) - all )) s"

deps:
	scripts/install-deps.sh

windows-deps: deps
	scripts/build-windows-deps.sh $(WIN_DEPS)

build-linux:
	$(CMAKE_LINUX) >/dev/null
	cmake --build build/linux -j$(JOBS)

# The data set is made by the Linux build's tools and copied beside viriz.exe.
build-windows: windows-deps build-linux
	$(CMAKE_WINDOWS) >/dev/null
	cmake --build build/windows -j$(JOBS)
	cp -r build/linux/bin/data build/linux/bin/data.dat build/windows/bin/

web-deps: deps
	scripts/build-web-deps.sh $(WEB_DEPS)

# The show in a browser: build/web holds the page (index.html), the program
# (viriz.js, viriz.wasm) and its data (viriz.data), made from the Linux build's.
web: web-deps build-linux
	$(CMAKE_WEB) >/dev/null
	$(EMSCRIPTEN) cmake --build build/web-cmake -j$(JOBS)

# Serves build/web on 127.0.0.1 and prints the address to open.
serve-web:
	scripts/serve-web.py build/web

build-sanitizers:
	$(CMAKE_ASAN) >/dev/null
	cmake --build build/asan -j$(JOBS)
	$(CMAKE_TSAN) >/dev/null
	cmake --build build/tsan -j$(JOBS) --target tests-audio

build-fuzz:
	$(CMAKE_FUZZ) >/dev/null
	cmake --build build/fuzz -j$(JOBS)

bench: deps build-linux
	build/linux/bin/viriz-bench

format:
	find src tests bench fuzz tools -name '*.cpp' -o -name '*.h' | xargs clang-format -i

clean:
	rm -rf build/linux build/windows build/web build/web-cmake build/asan build/tsan build/fuzz build/matrix-* build/dist dist
