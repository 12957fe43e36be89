# The two commands of the README:
#   make run   installs what is missing, configures, builds and starts build/bin/ovmix
#   make test  the same set-up, then every test through ctest (sanitizer build,
#              corpus replay, a short fuzz pass)
JOBS ?= $(shell nproc)
WERROR := $(if $(CI),-DOVMIX_WERROR=ON,)

.PHONY: run test deps build build-asan build-fuzz fuzz fixtures bench clean

deps:
	@scripts/install-deps

build: deps
	cmake --preset default $(WERROR) >/dev/null
	cmake --build --preset default -j $(JOBS)

run: build
	./build/bin/ovmix

build-asan: deps
	cmake --preset asan $(WERROR) >/dev/null
	cmake --build --preset asan -j $(JOBS)

build-fuzz: deps
	cmake --preset fuzz $(WERROR) >/dev/null
	cmake --build --preset fuzz -j $(JOBS)

# A short libFuzzer pass over each target's corpus.
fuzz: build-fuzz
	ctest --preset fuzz -j $(JOBS)

test: build-asan fuzz
	ctest --preset asan -j $(JOBS)

bench: deps
	cmake --preset bench >/dev/null
	cmake --build --preset bench -j $(JOBS)

clean:
	rm -rf build build-asan build-tsan build-fuzz build-bench
