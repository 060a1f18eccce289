# Entry points: `make run` sets everything up and runs the program on the
# bundled sample; `make test` sets everything up and runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
TSAN_BUILD ?= build-tsan
# `make tsan`: the thread counts the tests run at.
TSAN_THREADS ?= 1 2 3
# `make fuzz`: each fuzz target this many seconds (or FUZZ_RUNS executions).
FUZZ_SECONDS ?= 60
FUZZ_RUNS    ?= -1
JOBS       ?= $(shell nproc)
SAMPLE     ?= samples/evening-glow.jpg

.PHONY: arm64 test-arm64 test-soft deb deps configure build test asan tsan format-check fuzz fuzz-build fuzz-smoke run bench clean

deps:
	@scripts/setup-deps

# Every test with the software extended type on x86-64, where the tests
# can compare it with the hardware.
SOFT_BUILD ?= build-soft
test-soft: deps
	@cmake -S . -B $(SOFT_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTESSARIN_SOFT_EXTENDED=ON \
	  -DTESSARIN_BUILD_BENCH=OFF > /dev/null
	@cmake --build $(SOFT_BUILD) -j $(JOBS)
	ctest --test-dir $(SOFT_BUILD) --output-on-failure -j $(JOBS)

# ARM64: cross-built with Debian's aarch64 toolchain and arm64 libraries
# (installed when missing) into build-arm64/, without the window; the
# imaging, engine, codec, CLI and video tests run under qemu-user.
ARM64_BUILD ?= build-arm64
arm64:
	@scripts/setup-deps arm64
	@cmake -S . -B $(ARM64_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/aarch64-linux-gnu.cmake \
	  -DTESSARIN_BUILD_UI=OFF -DTESSARIN_BUILD_BENCH=OFF > /dev/null
	@cmake --build $(ARM64_BUILD) -j $(JOBS)

# The tests run under qemu-user with the arm64 C library installed beside
# the machine's own (-L /): with the cross toolchain's older copy in
# /usr/aarch64-linux-gnu, the dynamic loader and the C library differ and
# a program hangs when it starts a thread. The fast-path tests check a
# twentieth of their cases, as in the Debug builds. Then
# scripts/compare-builds runs every routine through the ARM64 tessarin-cli
# and compares its outputs with the x86-64 build's byte for byte.
ARM64_CTEST_ARGS ?=
test-arm64: arm64 build
	TESSARIN_EMULATED=1 ctest --test-dir $(ARM64_BUILD) --output-on-failure \
	  -j $(JOBS) --timeout 1500 $(ARM64_CTEST_ARGS)
	scripts/compare-builds $(BUILD)/src/cli/tessarin-cli "qemu-aarch64 -L / $(ARM64_BUILD)/src/cli/tessarin-cli"

# build/tessarin_<version>_amd64.deb: the two programs, the desktop file,
# the icons, the manual pages and the AppStream description under /usr.
deb: configure
	@scripts/setup-deps deb
	@cmake --build $(BUILD) -j $(JOBS) --target tessarin tessarin-cli tessarin-cli-man tessarin-man tessarin-changelog
	@cd $(BUILD) && cpack -G DEB

CONFIGURE = cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
configure: deps
	@$(CONFIGURE)

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS)

# The whole test suite, the windows included, under AddressSanitizer and
# UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(ASAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DTESSARIN_SANITIZE=ON \
	  -DTESSARIN_BUILD_BENCH=OFF -DTESSARIN_BUILD_UI=ON > /dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp \
	  ctest --test-dir $(ASAN_BUILD) --output-on-failure -j $(JOBS)

# The imaging and engine tests (the thread pool and every fast path) under
# ThreadSanitizer, once per count in TSAN_THREADS: TESSARIN_THREADS sets the
# count every test runs at unless it chooses its own (the fast-path tests
# add 1 and 3 threads). Only those two test programs are built, at -O1
# with assertions on (the fast-path tests run a twentieth of their cases,
# as in the other unoptimised builds). Any report fails the run.
tsan: deps
	@cmake -S . -B $(TSAN_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=Debug \
	  -DCMAKE_CXX_FLAGS="-O1 -fsanitize=thread -fno-omit-frame-pointer" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
	  -DTESSARIN_BUILD_BENCH=OFF -DTESSARIN_BUILD_UI=OFF > /dev/null
	@cmake --build $(TSAN_BUILD) -j $(JOBS) --target imaging_tests engine_tests
	@for n in $(TSAN_THREADS); do \
	  for t in $(TSAN_BUILD)/tests/imaging_tests $(TSAN_BUILD)/tests/engine/engine_tests; do \
	    echo "== $$t at TESSARIN_THREADS=$$n"; \
	    TESSARIN_THREADS=$$n TESSARIN_SOURCE_DIR=$(CURDIR) TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
	      $$t --gtest_brief=1 || exit 1; \
	  done; \
	done

# The lines changed since the last commit (or FORMAT_BASE) against
# .clang-format.
format-check: deps
	@scripts/check-format

# libFuzzer targets (clang, ASan, UBSan), then each run for a set time.
fuzz-build: deps
	@cmake -S . -B $(FUZZ_BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" -DTESSARIN_FUZZ=ON \
	  -DTESSARIN_BUILD_BENCH=OFF -DTESSARIN_BUILD_UI=OFF > /dev/null
	@cmake --build $(FUZZ_BUILD) -j $(JOBS)

fuzz: fuzz-build
	scripts/run-fuzzers $(FUZZ_BUILD) $(FUZZ_SECONDS) $(FUZZ_RUNS)

# The short run CI does: every target for a few seconds (about a minute in all).
fuzz-smoke: fuzz-build
	scripts/run-fuzzers $(FUZZ_BUILD) 5

# The window when there is a display; without one, the same miniature
# effect made by tessarin-cli from the bundled photo. Only those two
# programs are built, from only the packages they need (the tests and
# benchmarks, and their tools, wait for `make test`).
run:
	@scripts/setup-deps run
	@$(CONFIGURE)
	@cmake --build $(BUILD) -j $(JOBS) --target tessarin tessarin-cli
	@if [ -n "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	  echo "Starting the Tessarin window ($(BUILD)/src/app/tessarin)"; \
	  $(BUILD)/src/app/tessarin; \
	else \
	  echo "No display found (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."; \
	  echo "Making a miniature of $(SAMPLE) with tessarin-cli instead."; \
	  mkdir -p out && \
	  $(BUILD)/src/cli/tessarin-cli miniature $(SAMPLE) -o out/miniature.jpg && \
	  echo "Wrote out/miniature.jpg"; \
	fi

bench: build
	@for b in $(BUILD)/bench/bench_*; do echo "== $$b"; $$b; done

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD) $(TSAN_BUILD)
