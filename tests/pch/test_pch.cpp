// The translation unit that builds the test suites' precompiled header.
