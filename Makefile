# The two commands a newcomer runs: `make run` and `make test`.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: deps configure build test asan clang run package bench clean

deps:
	scripts/install-deps

configure: deps
	cmake --preset $(PRESET)

build: configure
	cmake --build --preset $(PRESET) -j $(JOBS)

test: build
	ctest --preset $(PRESET) -j $(JOBS)

asan:
	$(MAKE) test PRESET=asan

clang:
	$(MAKE) test PRESET=clang

run: build
	./build/$(PRESET)/stage/bin/kolvex

# A Debian package in build/$(PRESET): kolvex_<version>_<arch>.deb (apt install ./kolvex_*.deb).
package: build
	cd build/$(PRESET) && cpack -G DEB

clean:
	rm -rf build
