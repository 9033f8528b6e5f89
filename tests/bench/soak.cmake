# A short soak of the real tilu: a few hundred scans in its own namespace and display; it fails
# only on clear growth. Zapping still grows by several MB per 100 zaps and is measured by the
# full run (bench/soak_tilu), not here.
# Under the sanitizers resident memory says nothing (freed blocks wait in ASan's quarantine), so
# there the run is shorter and checks descriptors and threads only.
if(TILU_SANITIZE)
  set(soak_args --jobs 4 --warmup 30 --scans 90 --zaps 0 --live-zaps 0 --every 10 --max-growth 1000)
else()
  set(soak_args --jobs 6 --warmup 60 --scans 240 --zaps 0 --live-zaps 0 --every 20 --max-growth 8)
endif()
add_test(NAME soak_tilu_short COMMAND soak_tilu ${soak_args} --floor 0)
set_tests_properties(soak_tilu_short PROPERTIES ENVIRONMENT "${TILU_TEST_ENV}" TIMEOUT 900)
