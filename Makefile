# The README's commands. `make run` starts the program; `make test` installs
# what is missing, builds what this host tests, runs every test and prints
# the time each phase took (scripts/make-test.sh).
.PHONY: deps build build-native test run clean

deps:
	bash scripts/install-deps.sh

# The program as it ships: build/bin/SoundTestApp.exe (32-bit).
build: deps
	bash scripts/build.sh mingw

build-native: deps
	bash scripts/build.sh native

test:
	bash scripts/make-test.sh

run: build
	bash scripts/run-app.sh

clean:
	rm -rf build

# Long runs outside make test: the leak watch over thousands of stream cycles,
# every fuzzer for FUZZ_SECONDS each (make fuzz FUZZ_SECONDS=60), and the
# planted faults of audio/tests/mutants.txt (make mutate FAULTS="name ...").
.PHONY: soak fuzz mutate
FUZZ_SECONDS ?= 600
soak: deps
	bash scripts/soak.sh

fuzz: deps
	bash scripts/fuzz.sh $(FUZZ_SECONDS)

mutate: deps
	python3 scripts/mutate.py $(FAULTS)
