# Front door. `make demo` and `make test` work on a fresh Debian 12 machine:
# both install what is missing first (scripts/install-deps is idempotent).

BUILD      ?= build
ASAN_BUILD ?= build-asan
TSAN_BUILD ?= build-tsan
FUZZ_BUILD ?= build-fuzz
FUZZ_SECONDS ?= 60
FUZZ_WORK  ?= $(HOME)/.cache/tessellarium-fuzz
FUZZ_TARGETS ?=
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
CMAKE_ARGS ?=

.PHONY: all deps build test test-asan test-tsan fuzz demo bench pot screenshots install package clean

all: build

deps:
	scripts/install-deps

$(BUILD)/CMakeCache.txt:
	cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_ARGS)

build: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) -j $(JOBS)

test: build
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# The unit tests once more under the address and undefined-behaviour
# sanitizers (CI runs this after `make test`). lsan.supp holds leak reports
# that lie wholly inside libraries not built with the sanitizer.
test-asan: deps
	cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESS_SANITIZE=address \
	      -DTESS_BUILD_GUI=OFF -DTESS_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
	      LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	      UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 ctest --output-on-failure -j $(JOBS) -L unit

# The test programs that run threads (engine, tile list, output, video), their
# unit tests under the thread sanitizer. Only those programs are built, so the
# other programs' tests stay unbuilt and -L unit skips them. A report fails
# its test; tsan.supp holds reports that lie wholly inside libraries not built
# with the sanitizer, never our own code. Unoptimised like test-asan: the
# build then takes about half the compile time of an optimised one, more than
# the slower tests give back.
TSAN_TESTS = engine_tests tilelist_tests output_tests video_tests
test-tsan: deps
	cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESS_SANITIZE=thread \
	      -DTESS_BUILD_GUI=OFF -DTESS_BUILD_BENCH=OFF $(CMAKE_ARGS)
	cmake --build $(TSAN_BUILD) -j $(JOBS) --target $(TSAN_TESTS)
	cd $(TSAN_BUILD) && TSAN_OPTIONS="halt_on_error=1:second_deadlock_stack=1:suppressions=$(CURDIR)/tests/tsan.supp" \
	      ctest --output-on-failure -j $(JOBS) -L unit

# Every reader of outside data under libFuzzer with the address and
# undefined-behaviour sanitizers, FUZZ_SECONDS each (FUZZ_TARGETS picks some).
# The corpus grows in FUZZ_WORK, outside the tree; a failing input goes to
# tests/fuzz/regressions/<target>/ once fixed, where `make test` replays it.
fuzz: build
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESS_FUZZ=ON \
	      -DTESS_BUILD_GUI=OFF -DTESS_BUILD_BENCH=OFF -DTESS_BUILD_TESTS=OFF $(CMAKE_ARGS)
	cmake --build $(FUZZ_BUILD) -j $(JOBS)
	scripts/fuzz-run $(FUZZ_BUILD) $(FUZZ_WORK) $(FUZZ_SECONDS) $(BUILD)/bin/tessellarium $(FUZZ_TARGETS)

demo: build
	@if [ -x examples/demo.sh ]; then examples/demo.sh $(BUILD); \
	else echo "demo: mosaics are not built yet; this build has: $$($(BUILD)/bin/tessellarium --version | head -1)"; fi

bench: build
	@set -e; found=0; for b in $(BUILD)/bench/*_bench; do \
	  [ -x "$$b" ] || continue; found=1; echo "== $$b"; "$$b" $(BENCH_ARGS); done; \
	[ $$found = 1 ] || echo "bench: no benchmarks built yet"

# Message template for translators: every tr(), trn() and N_() text of the sources.
pot:
	xgettext --language=C++ --from-code=UTF-8 --keyword=tr --keyword=trn:1,2 --keyword=N_ --keyword=qtr \
	  --package-name=Tessellarium --package-version=3.53.0 --sort-by-file \
	  -o locale/tessellarium.pot $$(git ls-files 'src/*.cpp' 'src/*.hpp')

# A picture of every window of the desktop program, in screenshots/.
screenshots: deps $(BUILD)/CMakeCache.txt
	cmake --build $(BUILD) --target tessellarium-gui -j $(JOBS)
	scripts/screenshots.sh $(BUILD) screenshots

# Installs under PREFIX (default /usr/local), below DESTDIR when that is set:
# `make install DESTDIR=/tmp/x PREFIX=/usr` stages a package's layout.
install: build
	DESTDIR="$(DESTDIR)" cmake --install $(BUILD) $(if $(PREFIX),--prefix "$(PREFIX)")

# A Debian package in $(BUILD)/, its dependencies read off the programs.
package: build
	cmake --build $(BUILD) --target package

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(TSAN_BUILD) $(FUZZ_BUILD)
