/* A library that exists only in the test programs' directory. */
int kelvarn_fixture_answer(void) { return 42; }
