# make run   builds setup.exe and runs the wizard under Wine
# make test  builds everything and runs every test
# Both first install whatever the machine is missing (tools/install-deps.sh).

BUILD    := build
HOST     := $(BUILD)/host
JOBS     ?= $(shell nproc)
CMAKE_GEN := -DCMAKE_BUILD_TYPE=Release

.PHONY: all deps host target run test clean

all: target

deps:
	@sh tools/install-deps.sh

host: deps
	@cmake -S . -B $(HOST) $(CMAKE_GEN) >/dev/null
	@cmake --build $(HOST) -j $(JOBS)

target: host
	@cmake -S . -B $(BUILD) $(CMAKE_GEN) \
	    -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/mingw-i686.cmake \
	    -DPKGBUILD=$(CURDIR)/$(HOST)/tools/pkgbuild >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)

run: target
	@sh tools/run.sh $(BUILD)

test: target
	@ctest --test-dir $(HOST) --output-on-failure -j $(JOBS)
	@$(MAKE) --no-print-directory sanitize fuzz
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS); rc=$$?; \
	    WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix wineserver -k 2>/dev/null; exit $$rc

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
	    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
	    "-DCMAKE_C_FLAGS=$(SANITIZE_FLAGS)" "-DCMAKE_CXX_FLAGS=$(SANITIZE_FLAGS)" >/dev/null
	@cmake --build $(SANITIZE) -j $(JOBS)
	@ctest --test-dir $(SANITIZE) --output-on-failure -j $(JOBS)

fuzz: deps
	@sh tools/fuzz.sh

# make bench  builds the benchmark's programs and packages (about 1.2 GB
#             under build/) and prints its table; BENCH_RUNS (default 5) and
#             BENCH_SMALL_RUNS (default 3, 0 leaves out the 2000-file package,
#             whose pauses alone last 400 s a run) set the runs
# make sign   signs build/setup.exe in place with the certificate and key
#             named by SIGN_CERT and SIGN_KEY (SIGN_PASS for a locked key)
.PHONY: bench sign
bench: target
	@cmake --build $(BUILD) -j 2 --target bench_programs
	@sh tools/bench/bench.sh $(BUILD)

sign: target
	@sh tools/sign.sh $(BUILD)/setup.exe
