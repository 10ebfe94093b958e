.PHONY: demo test clean

# Runs the demo on its embedded sample.
demo:
	bash scripts/demo.sh

# Installs what is missing, builds everything and runs every test.
test:
	bash scripts/test.sh

clean:
	rm -rf build
