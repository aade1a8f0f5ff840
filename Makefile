# The README's commands. `make run` starts the program; `make test` installs
# what is missing, builds both configurations and runs every test.
.PHONY: deps build build-native test run clean

deps:
	bash scripts/install-deps.sh

build: deps
	cmake --preset mingw >/dev/null
	cmake --build --preset mingw

build-native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native

test: build build-native
	bash scripts/run-tests.sh

run: build
	bash scripts/run-app.sh

clean:
	rm -rf build
