# Entry points: `make run` sets everything up and runs the program on the
# bundled sample; `make test` sets everything up and runs every test.
BUILD      ?= build
ASAN_BUILD ?= build-asan
FUZZ_BUILD ?= build-fuzz
# `make fuzz`: each fuzz target this many seconds (or FUZZ_RUNS executions).
FUZZ_SECONDS ?= 60
FUZZ_RUNS    ?= -1
JOBS       ?= $(shell nproc)
SAMPLE     ?= samples/evening-glow.jpg

.PHONY: deps configure build test asan fuzz fuzz-build fuzz-smoke run bench clean

deps:
	@scripts/setup-deps

configure: deps
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null

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
# effect made by tessarin-cli from the bundled photo.
run: build
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
	rm -rf $(BUILD) $(ASAN_BUILD) $(FUZZ_BUILD)
