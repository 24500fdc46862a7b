# make run   builds setup.exe and runs the wizard under Wine
# make test  builds everything and runs every test
# Both first install whatever the machine is missing (tools/install-deps.sh).

BUILD    := build
HOST     := $(BUILD)/host
TWIN     := $(BUILD)/x64
JOBS     ?= $(shell nproc)
CMAKE_GEN := -DCMAKE_BUILD_TYPE=Release

# Two Windows builds of the same sources: the shipped 32-bit setup in
# $(BUILD), and its 64-bit twin in $(TWIN). The twin is how the setup's
# behaviour is tested on machines whose kernel cannot run 32-bit programs
# (and so no 32-bit Wine). ARCH names the build that make run and make bench
# show: x86 where a probe finds that 32-bit programs run, x64 where they do
# not. make test runs the target and end-to-end suite against the 32-bit
# build and the twin with ARCH=x86, and against the twin alone with ARCH=x64.
# Give ARCH=x64 to take the twin's path on any machine.
ifeq ($(origin ARCH),undefined)
PROBE := $(shell sh tools/probe-32bit.sh $(BUILD)/probe 2>&1)
ARCH  := $(if $(PROBE),x64,x86)
WHY   := $(PROBE)
else
WHY   := ARCH=$(ARCH) was given
endif
ifeq ($(ARCH),x86)
RUN_BUILD := $(BUILD)
RUN_WINE  := win32
else ifeq ($(ARCH),x64)
RUN_BUILD := $(TWIN)
RUN_WINE  := win64
else
$(error ARCH must be x86 or x64, not "$(ARCH)")
endif

.PHONY: all deps host target twin run test clean

all: target twin

deps:
	@sh tools/install-deps.sh $(BUILD)/probe

host: deps
	@cmake -S . -B $(HOST) $(CMAKE_GEN) -DSHIPPED_BUILD=$(CURDIR)/$(BUILD) \
	    -DTWIN_BUILD=$(CURDIR)/$(TWIN) >/dev/null
	@cmake --build $(HOST) -j $(JOBS)

# cross BUILD_DIR TOOLCHAIN: configures and builds one Windows build tree.
define cross
	@cmake -S . -B $(1) $(CMAKE_GEN) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/$(2).cmake \
	    -DPKGBUILD=$(CURDIR)/$(HOST)/tools/pkgbuild >/dev/null
	@cmake --build $(1) -j $(JOBS)
endef

target: host
	$(call cross,$(BUILD),mingw-i686)

twin: host
	$(call cross,$(TWIN),mingw-x86_64)

run: $(if $(filter x86,$(ARCH)),target,twin)
	@sh tools/run.sh $(RUN_BUILD) $(RUN_WINE) "$(WHY)"

# wine-suite BUILD_DIR: the target and end-to-end tests of one build tree,
# the reasons of any that skipped, then the end of whatever its test prefix
# still runs.
define wine-suite
	@ctest --test-dir $(1) --output-on-failure -j $(JOBS); rc=$$?; \
	    sh tools/skip-reasons.sh $(1); \
	    WINEPREFIX=$(CURDIR)/$(1)/wineprefix wineserver -k 2>/dev/null; exit $$rc
endef

test: target twin
	@ctest --test-dir $(HOST) --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory sanitize fuzz
ifeq ($(ARCH),x86)
	$(call wine-suite,$(BUILD))
	@echo "make test: now the 64-bit twin's suite ($(TWIN))"
else
	@echo "make test: the target and end-to-end tests run against the 64-bit twin ($(TWIN)) only: $(WHY)"
endif
	$(call wine-suite,$(TWIN))

clean:
	rm -rf $(BUILD)

# make sanitize  the native tests built with clang, AddressSanitizer and
#                UndefinedBehaviorSanitizer, in their own tree
# make fuzz      each package reader's fuzz target for 5 seconds; a longer
#                run: sh tools/fuzz.sh 600 (seconds a target)
SANITIZE       := $(BUILD)/host-asan
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: sanitize fuzz

sanitize: deps
	@cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMURM_RELEASE_CHECKS=OFF \
	    "-DCMAKE_C_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)
	@ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

fuzz: deps
	@sh tools/fuzz.sh

# make bench  builds the benchmark's programs and packages (about 1.2 GB
#             under build/ and build/x64/) and prints their tables: for the
#             32-bit build and then the twin where 32-bit programs run
#             (ARCH=x86), for the twin alone where they do not; BENCH_RUNS
#             (default 5) and BENCH_SMALL_RUNS (default 3, 0 leaves out the
#             2000-file package, whose pauses alone last 400 s a run) set
#             the runs
# make sign   signs build/setup.exe in place with the certificate and key
#             named by SIGN_CERT and SIGN_KEY (SIGN_PASS for a locked key)
.PHONY: bench sign
ifeq ($(ARCH),x86)
bench: target twin
	@cmake --build $(BUILD) -j 2 --target bench_programs
	@cmake --build $(TWIN) -j 2 --target bench_programs
	@sh tools/bench/bench.sh $(BUILD) win32
	@sh tools/bench/bench.sh $(TWIN) win64
else
bench: twin
	@echo "bench: the 64-bit twin only ($(WHY))"
	@cmake --build $(TWIN) -j 2 --target bench_programs
	@sh tools/bench/bench.sh $(TWIN) win64
endif

sign: target
	@sh tools/sign.sh $(BUILD)/setup.exe
