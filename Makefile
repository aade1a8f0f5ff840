# The README's commands. `make run` starts the program; `make test` installs
# what is missing, builds every configuration and runs every test.
.PHONY: deps build build-native build-tests test run clean

deps:
	bash scripts/install-deps.sh

# The program as it ships: build/bin/SoundTestApp.exe (32-bit).
build: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

build-native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

# Where the kernel cannot run 32-bit programs, the Windows tests run a 64-bit
# build of the same sources.
build-tests: build build-native
	if [ "$$(bash scripts/wine-arch.sh)" = win64 ]; then \
	  cmake --preset mingw64 >/dev/null && cmake --build --preset mingw64; fi

test: build-tests
	bash scripts/run-tests.sh

run: build
	bash scripts/run-app.sh

clean:
	rm -rf build

# Long runs outside make test: the leak watch over thousands of stream cycles,
# and every fuzzer for FUZZ_SECONDS each (make fuzz FUZZ_SECONDS=60).
.PHONY: soak fuzz
FUZZ_SECONDS ?= 600
soak: deps
	bash scripts/soak.sh

fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)
