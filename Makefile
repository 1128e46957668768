# Both targets install what is missing, configure and build first.
BUILD ?= build
PYTHON := /usr/bin/python3

.PHONY: all deps build test demo clean

all: build

deps:
	./scripts/install-deps.sh

# The top-level zvwebsetup.exe here is an example for the placeholder
# addresses, pinning no signer on purpose: the tests' and the demo's
# installers pin the test publisher, a release pins the maker's.
build: deps
	cmake -S . -B $(BUILD) -DZV_ANY_PUBLISHER=ON
	cmake --build $(BUILD) -j2

# Every unit test (under Wine) and every end-to-end test (the real
# installer under Wine in Xvfb against a local package server).
test: build
	cd $(BUILD) && ctest --output-on-failure

# A whole install under Wine against a local package server, shown on
# $$DISPLAY when there is one (else in Xvfb, with screenshots).
demo: build
	$(PYTHON) scripts/demo.py --build $(BUILD)

clean:
	rm -rf $(BUILD)
