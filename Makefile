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
# (and so no 32-bit Wine), or where the 32-bit Wine could not be installed.
# ARCH names the build that make run and make bench show: x86 where 32-bit
# programs run and the 32-bit Wine is there, x64 where not. make test runs
# the target and end-to-end suite against the 32-bit build and the twin
# with ARCH=x86, and against the twin alone with ARCH=x64. Give ARCH=x64 to
# take the twin's path on any machine.
#
# Set-up comes before that choice: it may find that the 32-bit Wine cannot
# be installed here (a mirror caught mid-sync, say). So the goals that
# choose (run, test, bench, stress) run set-up first, then make themselves
# again, and the choice is made afresh.
ifeq ($(origin ARCH),undefined)
PROBE := $(shell sh tools/probe-32bit.sh $(BUILD)/probe 2>&1)
ifeq ($(PROBE),)
PROBE := $(if $(wildcard /usr/lib/wine/wine),,the 32-bit Wine is not installed (tools/install-deps.sh said why))
endif
ARCH  := $(if $(PROBE),x64,x86)
WHY   := $(PROBE)
else
WHY   := ARCH=$(ARCH) was given
endif
ifeq ($(ARCH),x86)
RUN_BUILD := $(BUILD)
RUN_WINE  := win32
WINE_BUILDS := $(BUILD) $(TWIN)
else ifeq ($(ARCH),x64)
RUN_BUILD := $(TWIN)
RUN_WINE  := win64
WINE_BUILDS := $(TWIN)
else
$(error ARCH must be x86 or x64, not "$(ARCH)")
endif

.PHONY: all deps host target twin run test stress bench sign clean

all: target twin

deps:
ifeq ($(DEPS_DONE),)
	@sh tools/install-deps.sh $(BUILD)/probe
endif

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

ifeq ($(DEPS_DONE),)
run test bench stress: deps
	@$(MAKE) --no-print-directory DEPS_DONE=1 $@
else

run: $(if $(filter x86,$(ARCH)),target,twin)
	@sh tools/run.sh $(RUN_BUILD) $(RUN_WINE) "$(WHY)"

# Every suite runs, whatever an earlier one gave, and the last lines sum
# them up; make test fails when any suite failed.
test: target twin sanitize-build
	@rm -f $(BUILD)/test-results
	-@sh tools/suite.sh ctest native "host (Linux)" $(HOST)
	-@sh tools/suite.sh ctest sanitized "host-asan (clang, ASan, UBSan)" $(SANITIZE)
	-@sh tools/suite.sh fuzz fuzz "fuzz (clang, libFuzzer)"
ifeq ($(ARCH),x86)
	-@sh tools/suite.sh ctest "target and end-to-end" "$(BUILD) (32-bit, shipped)" $(BUILD)
	@echo "make test: now the 64-bit twin's suite ($(TWIN))"
else
	@echo "make test: the target and end-to-end tests run against the 64-bit twin ($(TWIN)) only: $(WHY)"
endif
	-@sh tools/suite.sh ctest "target and end-to-end" "$(TWIN) (64-bit twin)" $(TWIN)
	@sh tools/suite.sh summary

# make stress  the tests that start, stop, wait for or race a program,
#              STRESS_RUNS times each (default 10, stopping at a failure) on
#              each Wine build that runs here, while a load the target starts
#              and stops itself keeps every CPU busy; for developers before a
#              submission, not part of make test
STRESS_RUNS  ?= 10
STRESS_TESTS := crash_test|inuse_test|faults_test|packages_test|wizard_test|uninst_test|selfcheck_test|safeload_test|altered_log_test|lifecycle_test
stress: target twin
	@sh tools/stress.sh $(STRESS_RUNS) '$(STRESS_TESTS)' $(WINE_BUILDS)

# make bench  builds the benchmark's programs and packages (about 1.2 GB
#             under build/ and build/x64/) and prints their tables: for the
#             32-bit build and then the twin where 32-bit programs run
#             (ARCH=x86), for the twin alone where they do not; BENCH_RUNS
#             (default 5) and BENCH_SMALL_RUNS (default 3, 0 leaves out the
#             2000-file package, whose pauses alone last 400 s a run) set
#             the runs
# make sign   signs build/setup.exe in place with the certificate and key
#             named by SIGN_CERT and SIGN_KEY (SIGN_PASS for a locked key)
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

endif

clean:
	rm -rf $(BUILD)

# make sanitize  the native tests built with clang, AddressSanitizer and
#                UndefinedBehaviorSanitizer, in their own tree
# make fuzz      each package reader's fuzz target for 5 seconds; a longer
#                run: sh tools/fuzz.sh 600 (seconds a target)
SANITIZE       := $(BUILD)/host-asan
SANITIZE_FLAGS := -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer

.PHONY: sanitize sanitize-build fuzz

sanitize: sanitize-build
	@ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

sanitize-build: deps
	@cmake -S . -B $(SANITIZE) -DCMAKE_BUILD_TYPE=Debug \
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DMURM_RELEASE_CHECKS=OFF \
	    "-DCMAKE_C_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)

fuzz: deps
	@sh tools/fuzz.sh

sign: target
	@sh tools/sign.sh $(BUILD)/setup.exe
