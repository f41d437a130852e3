# Orvelle: `make run` opens the window, `make test` runs every test.
BUILD      ?= build
BUILD_TYPE ?= RelWithDebInfo
JOBS       ?= $(shell nproc)
CTEST_ENV  := QT_QPA_PLATFORM=offscreen

.PHONY: all deps configure build run test test-heavy test-sanitize bench screenshot format clean

all: build

deps:
	@scripts/install-deps

$(BUILD)/CMakeCache.txt: | deps
	cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=$(BUILD_TYPE)

configure: $(BUILD)/CMakeCache.txt

build: deps configure
	cmake --build $(BUILD) -j $(JOBS)

run: build
	@if [ -z "$$DISPLAY" ] && [ -z "$$WAYLAND_DISPLAY" ]; then \
	  echo "No display here (DISPLAY and WAYLAND_DISPLAY are unset): harvest on the command line instead, e.g. $(BUILD)/orvelle-harvest www.example.com"; \
	else \
	  $(BUILD)/orvelle; \
	fi

test: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -j $(JOBS) -LE heavy

test-heavy: build
	cd $(BUILD) && $(CTEST_ENV) ctest --output-on-failure -L heavy --no-tests=ignore

# The suite without the heavy cases, under AddressSanitizer and UndefinedBehaviorSanitizer.
SANITIZE_BUILD ?= build-sanitize

test-sanitize: deps
	cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DORVELLE_SANITIZE=ON -DORVELLE_BUILD_BENCH=OFF
	cmake --build $(SANITIZE_BUILD) -j $(JOBS)
	cd $(SANITIZE_BUILD) && $(CTEST_ENV) ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS) -LE heavy

BENCH_BUILD ?= build-bench

bench: deps
	cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DORVELLE_BUILD_TESTS=OFF
	cmake --build $(BENCH_BUILD) -j $(JOBS) --target benches
	@scripts/bench-corpus $(BENCH_BUILD)/bench-corpus.html
	@for b in $(BENCH_BUILD)/bench/bench_*; do \
	  [ -f "$$b" ] && [ -x "$$b" ] || continue; \
	  echo "== $$(basename $$b)"; \
	  ORVELLE_BENCH_CORPUS=$(abspath $(BENCH_BUILD))/bench-corpus.html "$$b" || exit 1; \
	done

# The window as a person sees it, drawn on a virtual display (Xvfb), for the README.
screenshot: build
	QT_QPA_PLATFORM=xcb xvfb-run --auto-servernum --server-args="-screen 0 1024x768x24 -dpi 96" \
	  $(BUILD)/orvelle-screenshot docs/screenshot.png
	@echo "wrote docs/screenshot.png"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD)
