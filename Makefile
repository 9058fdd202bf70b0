# Varne: `make run` starts the editor, `make test` runs the whole test suite.
# Both install the Debian packages they need first.

BUILD ?= build
SANITIZE_BUILD ?= build-sanitize
JOBS ?= 2
PREFIX ?= /usr/local
# WERROR=ON makes every compiler warning an error, as CI does.
WERROR ?= OFF
MAKEFLAGS += --no-print-directory

.PHONY: all deps build run test test-sanitize bench bench-table install package format clean

all: build

deps:
	@scripts/install-deps

build: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=$(PREFIX) \
	    -DVARNE_WERROR=$(WERROR) >/dev/null
	@cmake --build $(BUILD) -j$(JOBS)

run: build
	@if [ -z "$$DISPLAY$$WAYLAND_DISPLAY" ]; then \
	    echo "make run: no display found (DISPLAY and WAYLAND_DISPLAY are unset): run it from a desktop session."; \
	    exit 1; \
	fi
	@$(BUILD)/varne

# The whole suite, once: a test that fails has found a fault, in the program
# or in the test, and is never tried again to make it pass.
SUITE = QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j$(JOBS)

test: build
	@cd $(BUILD) && $(SUITE)

# The same suite under AddressSanitizer and UndefinedBehaviorSanitizer.
test-sanitize: deps
	@cmake -S . -B $(SANITIZE_BUILD) -DCMAKE_BUILD_TYPE=Debug -DVARNE_SANITIZE=ON -DVARNE_BENCH=OFF \
	    -DVARNE_WERROR=$(WERROR) >/dev/null
	@cmake --build $(SANITIZE_BUILD) -j$(JOBS)
	@cd $(SANITIZE_BUILD) && \
	    export LSAN_OPTIONS=suppressions=$(CURDIR)/tests/lsan.supp:print_suppressions=0 && \
	    $(SUITE)

# The real binary in a real X server first (bench/README.md), then the
# program's own operations offscreen. A row the first cannot measure says so,
# and makes the whole run fail once the offscreen rows are printed too.
bench: build
	@status=0; python3 bench/real-x-bench.py $(BUILD)/bench/real-x-programs || status=1; echo; \
	for size in 1 10 100; do $(BUILD)/bench/varne-bench $$size 2>/dev/null || exit 1; echo; done; \
	for size in 2 10; do $(BUILD)/bench/varne-bench --one-line $$size 2>/dev/null || exit 1; echo; done; \
	exit $$status

# The real-X rows alone, printed as the Markdown table of README.md's Speed
# section, beside the figures from before the work they were made for.
bench-table: build
	@python3 bench/real-x-bench.py $(BUILD)/bench/real-x-programs --markdown

install: build
	@DESTDIR="$(DESTDIR)" cmake --install $(BUILD) --prefix $(PREFIX)

package: build
	@cd $(BUILD) && cpack -G DEB

format: deps
	@command -v clang-format >/dev/null || { echo "make format: clang-format is missing (Debian package clang-format)."; exit 1; }
	@clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	@rm -rf $(BUILD) $(SANITIZE_BUILD)
