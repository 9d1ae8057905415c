# What a newcomer needs: `make demo`, `make check` and `make test`.
SHELL := /bin/bash
BUILD := $(CURDIR)/build
JOBS ?= $(shell nproc)
MINGW := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-w64.cmake
# Configures a build folder only when it is new, its options changed or a
# CMakeLists.txt changed: $(call CONFIGURE,<folder>,<build type>,<options>)
CONFIGURE = bash scripts/configure.sh $(BUILD)/$(1) -DCMAKE_BUILD_TYPE=$(2) $(3)
# The linux tests are built when GoogleTest is there; make demo does not need it.
LINUX_TESTS = -DOVVB_TESTS=$$([ -f /usr/include/gtest/gtest.h ] && echo ON || echo OFF)
LINUX = $(call CONFIGURE,linux,RelWithDebInfo,-DOVVB_BUILD=linux $(LINUX_TESTS))
DEMO_TARGETS := OvVBiosInstaller amdvbflash devcon64 vendorflash trace_query

.PHONY: dist all deps build build-linux build-linux-asan build-windows build-windows-sim build-fuzz test check demo gallery bench fuzz clean

all: build

deps:
	@bash scripts/install-deps.sh all

build-linux:
	@bash scripts/install-deps.sh linux
	@$(LINUX)
	@cmake --build $(BUILD)/linux -j $(JOBS)

build-linux-asan:
	@bash scripts/install-deps.sh linux
	@$(call CONFIGURE,linux-asan,Debug,-DOVVB_BUILD=linux -DOVVB_SANITIZE=ON)
	@cmake --build $(BUILD)/linux-asan -j $(JOBS)

build-windows:
	@bash scripts/install-deps.sh windows
	@$(call CONFIGURE,windows,Release,-DOVVB_BUILD=windows $(MINGW))
	@cmake --build $(BUILD)/windows -j $(JOBS)

build-windows-sim:
	@bash scripts/install-deps.sh windows
	@$(call CONFIGURE,windows-sim,Release,-DOVVB_BUILD=windows-sim $(MINGW))
	@cmake --build $(BUILD)/windows-sim -j $(JOBS)

build-fuzz:
	@bash scripts/install-deps.sh fuzz
	@$(call CONFIGURE,fuzz,RelWithDebInfo,-DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DOVVB_BUILD=linux -DOVVB_FUZZ=ON)
	@cmake --build $(BUILD)/fuzz -j $(JOBS) --target fuzz_read_configs fuzz_ai_output fuzz_package_check fuzz_log_explain fuzz_dock_response fuzz_acpi_output fuzz_vbios_image fuzz_package_manifest

build: build-linux build-linux-asan build-windows build-windows-sim build-fuzz

# Everything: unit and end-to-end tests (also under ASan+UBSan), the Windows
# tests under Wine, the windows-sim program end to end, a short fuzzing run.
# Ends with one "N passed, N failed" line.
test: deps build
	@bash scripts/run-tests.sh $(BUILD)

# The quick round while working: the linux build, its unit and end-to-end
# tests and the layer check. Ends with one "N passed, N failed" line.
check: build-linux
	@bash scripts/run-tests.sh $(BUILD) quick

# Needs only cmake, ninja and g++: builds just the program and its stand-ins.
demo:
	@bash scripts/install-deps.sh demo
	@$(LINUX)
	@cmake --build $(BUILD)/linux -j $(JOBS) --target $(DEMO_TARGETS)
	@bash scripts/demo.sh $(BUILD)/linux

# Every dialog in every language, drawn by the win32 code under Wine + Xvfb
# into build/gallery/*.png with one contact sheet per dialog.
gallery: build-windows
	@bash scripts/gallery.sh $(BUILD)

bench:
	@bash scripts/install-deps.sh linux
	@$(call CONFIGURE,bench,Release,-DOVVB_BUILD=linux -DOVVB_BENCH=ON)
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
	@mkdir -p $(BUILD)/fuzz/corpus-vbios_image
	@$(BUILD)/fuzz/bin/fuzz_vbios_image -max_total_time=60 $(BUILD)/fuzz/corpus-vbios_image examples/packages/amd-two-boards
	@mkdir -p $(BUILD)/fuzz/corpus-package_manifest
	@$(BUILD)/fuzz/bin/fuzz_package_manifest -max_total_time=60 $(BUILD)/fuzz/corpus-package_manifest

# The zip for package authors and deployment: same bytes from the same commit.
# OVVB_SIGN_PKCS12=cert.p12 OVVB_SIGN_PASSWORD=... [OVVB_TIMESTAMP_URL=...]
# signs its programs (scripts/make-dist.py).
dist: build-linux build-windows
	@mkdir -p $(BUILD)/dist
	@$(BUILD)/linux/bin/authors_guide >$(BUILD)/dist/PACKAGE-AUTHORS.md
	@$(BUILD)/linux/bin/deployment_guide >$(BUILD)/dist/DEPLOYMENT.md
	@python3 scripts/make-dist.py $(CURDIR) $(BUILD)

clean:
	rm -rf $(BUILD)
