.PHONY: demo test sanitize fuzz bench clean

# Runs the demo on its embedded sample.
demo:
	bash scripts/demo.sh

# Installs what is missing, builds everything and runs every test.
test:
	bash scripts/test.sh

# The core and the module built with AddressSanitizer and UndefinedBehaviorSanitizer, and
# every native and Python test run under them.
sanitize:
	bash scripts/sanitize.sh

# The core's differential fuzz target, run for FUZZ_SECONDS seconds.
FUZZ_SECONDS ?= 60
fuzz:
	FUZZ_SECONDS=$(FUZZ_SECONDS) bash scripts/fuzz.sh

# Times the module's conversions against NumPy's own and prints a table of ratios.
bench:
	bash scripts/bench.sh

clean:
	rm -rf build
