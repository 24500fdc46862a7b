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
	@ctest --test-dir $(BUILD) --output-on-failure -j $(JOBS); rc=$$?; \
	    WINEPREFIX=$(CURDIR)/$(BUILD)/wineprefix wineserver -k 2>/dev/null; exit $$rc

clean:
	rm -rf $(BUILD)
