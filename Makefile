# SPDX-License-Identifier: GPL-3.0-or-later
# The two commands a newcomer runs: `make run` and `make test`.
PRESET ?= default
JOBS ?= $(shell nproc)

.PHONY: deps configure build test asan clang fuzz run package bench clean

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

# Each libFuzzer harness for FUZZ_SECONDS on a copy of its seeds (build/fuzz/corpus/<name>);
# crashes are written to build/fuzz/findings/<name>/.
FUZZ_SECONDS ?= 60
fuzz: deps
	cmake --preset fuzz
	cmake --build --preset fuzz -j $(JOBS)
	@failed=""; for seeds in fuzz/corpus/*/; do \
	  name=$$(basename $$seeds); \
	  mkdir -p build/fuzz/corpus/$$name build/fuzz/findings/$$name; \
	  cp -r $$seeds. build/fuzz/corpus/$$name/; \
	  echo "== fuzz-$$name for $(FUZZ_SECONDS) s"; \
	  QT_QPA_PLATFORM=offscreen KOLVEX_LOG=capture build/fuzz/fuzz/fuzz-$$name -max_total_time=$(FUZZ_SECONDS) \
	    -artifact_prefix=build/fuzz/findings/$$name/ -print_final_stats=1 build/fuzz/corpus/$$name \
	    || failed="$$failed $$name"; \
	done; \
	if [ -n "$$failed" ]; then echo "fuzz: findings in build/fuzz/findings/ for:$$failed"; exit 1; fi

run: build
	./build/$(PRESET)/stage/bin/kolvex

# A Debian package in build/$(PRESET): kolvex_<version>_<arch>.deb (apt install ./kolvex_*.deb).
package: build
	cd build/$(PRESET) && cpack -G DEB

clean:
	rm -rf build
