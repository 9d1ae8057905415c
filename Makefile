# The two commands a newcomer needs: `make demo` and `make test`.
SHELL := /bin/bash
BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc)
MINGW := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
CONFIGURE = cmake -S $(CURDIR) -G Ninja -DCMAKE_BUILD_TYPE=$(1) -B

.PHONY: dist all deps build build-linux build-linux-asan build-windows build-windows-sim build-fuzz test demo gallery bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh

build-linux: deps
	@[ -f $(BUILD)/linux/build.ninja ] || $(call CONFIGURE,RelWithDebInfo) $(BUILD)/linux -DOVVB_BUILD=linux >/dev/null
	@cmake --build $(BUILD)/linux -j $(JOBS)

build-linux-asan: deps
	@[ -f $(BUILD)/linux-asan/build.ninja ] || $(call CONFIGURE,Debug) $(BUILD)/linux-asan -DOVVB_BUILD=linux -DOVVB_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)/linux-asan -j $(JOBS)

build-windows: deps
	@[ -f $(BUILD)/windows/build.ninja ] || $(call CONFIGURE,Release) $(BUILD)/windows -DOVVB_BUILD=windows $(MINGW) >/dev/null
	@cmake --build $(BUILD)/windows -j $(JOBS)

build-windows-sim: deps
	@[ -f $(BUILD)/windows-sim/build.ninja ] || $(call CONFIGURE,Release) $(BUILD)/windows-sim -DOVVB_BUILD=windows-sim $(MINGW) >/dev/null
	@cmake --build $(BUILD)/windows-sim -j $(JOBS)

build-fuzz: deps
	@[ -f $(BUILD)/fuzz/build.ninja ] || CC=clang CXX=clang++ $(call CONFIGURE,RelWithDebInfo) $(BUILD)/fuzz -DOVVB_BUILD=linux -DOVVB_FUZZ=ON >/dev/null
	@cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_read_configs fuzz_ai_output fuzz_package_check fuzz_log_explain fuzz_dock_response fuzz_acpi_output

build: build-linux build-linux-asan build-windows build-windows-sim build-fuzz

# Everything: unit and end-to-end tests (also under ASan+UBSan), the Windows
# tests under Wine, the windows-sim program end to end, a short fuzzing run.
# Ends with one "N passed, N failed" line.
test: build
	@bash scripts/run-tests.sh $(BUILD)

demo: build-linux
	@bash scripts/demo.sh $(BUILD)/linux

# Every dialog in every language, drawn by the win32 code under Wine + Xvfb
# into build/gallery/*.png with one contact sheet per dialog.
gallery: build-windows
	@bash scripts/gallery.sh $(BUILD)

bench:
	@[ -f $(BUILD)/bench/build.ninja ] || $(call CONFIGURE,Release) $(BUILD)/bench -DOVVB_BUILD=linux -DOVVB_BENCH=ON >/dev/null
	@cmake --build $(BUILD)/bench -j $(JOBS)
	@$(BUILD)/bench/bin/bench_capture
	@$(BUILD)/bench/bin/bench_full_run
	@$(BUILD)/bench/bin/bench_rehearse

fuzz: build-fuzz
	@$(BUILD)/fuzz/bin/fuzz_read_configs -max_total_time=60 $(BUILD)/fuzz/corpus-configs
	@$(BUILD)/fuzz/bin/fuzz_ai_output -max_total_time=60 $(BUILD)/fuzz/corpus-ai
	@mkdir -p $(BUILD)/fuzz/corpus-package_check $(BUILD)/fuzz/corpus-log_explain
	@$(BUILD)/fuzz/bin/fuzz_package_check -max_total_time=60 $(BUILD)/fuzz/corpus-package_check examples/packages/amd-dock
	@$(BUILD)/fuzz/bin/fuzz_log_explain -max_total_time=60 $(BUILD)/fuzz/corpus-log_explain
	@mkdir -p $(BUILD)/fuzz/corpus-dock_response $(BUILD)/fuzz/corpus-acpi_output
	@$(BUILD)/fuzz/bin/fuzz_dock_response -max_total_time=60 $(BUILD)/fuzz/corpus-dock_response
	@$(BUILD)/fuzz/bin/fuzz_acpi_output -max_total_time=60 $(BUILD)/fuzz/corpus-acpi_output

# The zip for package authors and deployment: same bytes from the same commit.
dist: build-linux build-windows
	@mkdir -p $(BUILD)/dist
	@$(BUILD)/linux/bin/authors_guide >$(BUILD)/dist/PACKAGE-AUTHORS.md
	@python3 scripts/make-dist.py $(CURDIR) $(BUILD)

clean:
	rm -rf $(BUILD)
