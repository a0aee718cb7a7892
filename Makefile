# Two commands do all set-up on a fresh Debian machine:
#   make run   installs what is missing, builds, starts the program
#   make test  installs what is missing, builds, runs every test suite
# Other targets: make build, make bench, make web (the web edition on http://127.0.0.1:8000/),
# make web-bench, make format, make clean.

BUILD_DIR := build
RELEASE_DIR := $(BUILD_DIR)/release
ASAN_DIR := $(BUILD_DIR)/asan
TSAN_DIR := $(BUILD_DIR)/tsan
FUZZ_DIR := $(BUILD_DIR)/fuzz
FUZZ_SECONDS ?= 600
JOBS ?= $(shell nproc 2>/dev/null || echo 2)

# Debian packages: what building the programs needs; the test and benchmark libraries on top
# for make run (one build makes everything); and the tools the test suites need on top.
INSTALL_PACKAGES := cmake g++ make pkg-config qt6-base-dev portaudio19-dev libasound2-dev \
	libjack-jackd2-dev libsndfile1-dev libogg-dev libfast-float-dev
# The web edition: Emscripten builds it and Python serves it; its tests drive Debian's chromium
# from Node.js, whose npm brings playwright-core (a Node.js from elsewhere has its own npm).
WEB_PACKAGES := cmake make emscripten libfast-float-dev python3
WEB_TEST_PACKAGES := $(WEB_PACKAGES) chromium $(if $(shell command -v npm),,npm)
RUN_PACKAGES := $(INSTALL_PACKAGES) libgtest-dev libbenchmark-dev
# A virtual X display, a window manager to close windows as a user does, X input, pv to pace
# the captured audio stream like a sound card, screenshots, and pitch measurement; appstreamcli,
# groff and lexgrog check the installed metainfo and man pages; mido reads the MIDI files back;
# setfacl gives replaced files an ACL to keep; sox reads the WAV header back as other programs
# would; a session bus, the accessibility bus and pyatspi read the window as a screen reader does.
TEST_PACKAGES := $(RUN_PACKAGES) clang xvfb xauth openbox wmctrl xdotool pv imagemagick aubio-tools \
	python3 python3-mido sox desktop-file-utils appstream groff-base man-db acl dbus-daemon \
	at-spi2-core python3-pyatspi $(WEB_TEST_PACKAGES)

# Installs the named packages that are missing: apt-get (through sudo when not root); without
# apt it names the packages and stops.
define install_missing
	@missing=""; \
	if command -v dpkg-query >/dev/null 2>&1; then \
		for p in $(1); do \
			dpkg-query -W -f='$${Status}' "$$p" 2>/dev/null | grep -q 'ok installed' \
				|| missing="$$missing $$p"; \
		done; \
	else missing=" $(strip $(1))"; fi; \
	if [ -n "$$missing" ]; then \
		if ! command -v apt-get >/dev/null 2>&1; then \
			echo "DoodleChorus needs these Debian packages (or your system's equivalents):$$missing" >&2; \
			echo "No apt-get here: install them with your package manager, then run make again." >&2; \
			exit 1; \
		fi; \
		sudo=""; [ "$$(id -u)" -eq 0 ] || sudo=sudo; \
		echo "Installing:$$missing"; \
		$$sudo apt-get update -qq && \
		$$sudo env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
			-o DPkg::Lock::Timeout=300 $$missing; \
	fi
endef

.PHONY: run test build bench fuzz install deps-run deps-test deps-web web web-bench format clean

run: build
	$(BUILD_DIR)/app/doodlechorus

# Developers' builds: warnings are errors. The plain Release build is the one packagers and
# most users make; building it here catches what only the optimiser warns about.
test: deps-test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDC_WERROR=ON
	cmake --build $(BUILD_DIR) -j$(JOBS)
	cmake -S . -B $(RELEASE_DIR) -DCMAKE_BUILD_TYPE=Release -DDC_WERROR=ON
	cmake --build $(RELEASE_DIR) -j$(JOBS)
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DDC_SANITIZE=address,undefined \
		-DDC_WITH_GUI=OFF -DDC_WITH_BENCH=OFF -DDC_WERROR=ON
	cmake --build $(ASAN_DIR) -j$(JOBS)
	cmake -S . -B $(TSAN_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDC_SANITIZE=thread \
		-DDC_WITH_BENCH=OFF -DDC_WERROR=ON
	cmake --build $(TSAN_DIR) -j$(JOBS)
	ctest --test-dir $(BUILD_DIR) --output-on-failure
	ctest --test-dir $(ASAN_DIR) --output-on-failure
	ctest --test-dir $(TSAN_DIR) --output-on-failure -LE e2e
	DC_WERROR=ON web/build.sh $(WEB_DIR)
	web/test.sh $(WEB_DIR) $(BUILD_DIR)/tools/doodlechorus-render

build: deps-run
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DDC_WERROR=OFF
	cmake --build $(BUILD_DIR) -j$(JOBS)

bench: deps-test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j$(JOBS)
	$(BUILD_DIR)/bench/voice_bench
	$(BUILD_DIR)/bench/ticker_drift 10
	bench/idle_cpu.sh $(BUILD_DIR)/app/doodlechorus 10
	$(BUILD_DIR)/bench/recording_file_bench
	$(BUILD_DIR)/bench/render_bench
	web/build.sh $(WEB_DIR)
	web/test.sh --bench $(WEB_DIR) $(BUILD_DIR)/bench/voice_bench

# The web edition: builds the page into $(WEB_DIR) and serves it on loopback.
WEB_DIR := $(BUILD_DIR)/web
WEB_PORT ?= 8000
web: deps-web
	web/build.sh $(WEB_DIR)
	@echo "DoodleChorus in a browser: http://127.0.0.1:$(WEB_PORT)/ (Ctrl+C ends the server)"
	python3 -m http.server $(WEB_PORT) --bind 127.0.0.1 --directory $(WEB_DIR)

# The WebAssembly voice in chromium against the native voice_bench.
web-bench: deps-test
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(BUILD_DIR) -j$(JOBS) --target voice_bench
	web/build.sh $(WEB_DIR)
	web/test.sh --bench $(WEB_DIR) $(BUILD_DIR)/bench/voice_bench

# Fuzzes the file and line readers with libFuzzer (clang), starting from the committed corpus;
# new inputs go to $(FUZZ_DIR)/corpus, findings to $(FUZZ_DIR).
fuzz: deps-test
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
		-DDC_SANITIZE=address,undefined -DDC_FUZZ=ON -DDC_WITH_GUI=OFF -DDC_WITH_BENCH=OFF
	cmake --build $(FUZZ_DIR) -j$(JOBS) --target recording_fuzz
	mkdir -p $(FUZZ_DIR)/corpus
	cd $(FUZZ_DIR) && ./tests/recording_fuzz -max_total_time=$(FUZZ_SECONDS) -max_len=8192 \
		corpus $(CURDIR)/tests/fuzz/corpus

deps-run:
	$(call install_missing,$(RUN_PACKAGES))

deps-test:
	$(call install_missing,$(TEST_PACKAGES))

deps-web:
	$(call install_missing,$(WEB_PACKAGES))

# Installs the program, the command-line tool, their man pages, the desktop entry, the metainfo
# and the icons under PREFIX (default /usr/local), from a build of its own without the tests
# and benchmarks (BUILD_TESTING=OFF), so that neither their libraries nor their build time are
# needed.
PREFIX ?= /usr/local
DIST_DIR := $(BUILD_DIR)/dist
install:
	$(call install_missing,$(INSTALL_PACKAGES))
	cmake -S . -B $(DIST_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF
	cmake --build $(DIST_DIR) -j$(JOBS)
	cmake --install $(DIST_DIR) --prefix $(PREFIX)

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf $(BUILD_DIR)
