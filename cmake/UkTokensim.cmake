# Windows tests against the token emulator.
#
# uk_add_token_test(NAME SOURCES ... [LIBS ...] [SERIAL] [TIMEOUT s] [ENV ...]) is uk_add_test
# for a test that needs the emulator: it requires the ctest fixture "tokensim", whose setup test
# tokensim_start starts the native emulator (UK_TOKENSIM) on a free port with a temporary state
# folder and names it in the prefix's machine-wide setting
#   HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer, "VirtualToken" = "127.0.0.1:PORT"
# and whose cleanup test tokensim_stop stops it again. Each test creates its own tokens with unique
# serials (tokensim::uniqueSerial) and deletes them at the end. Tests against the emulator never
# overlap one another (one resource lock): a listing sees every token of the emulator, and the
# library stops a listing at a device it cannot open, so a token another test deleted in the
# middle of it would fail that listing. Tests that need no emulator run beside them; a test that
# must run alone altogether is SERIAL.
set(UK_TOKENSIM "${CMAKE_SOURCE_DIR}/build/native/bin/tokensim" CACHE FILEPATH
    "Native token emulator the Windows tests start")

function(uk_add_token_test name)
  uk_add_test(${name} ${ARGN})
  uk_requires_tokensim(${name})
endfunction()

# uk_requires_tokensim(TEST): TEST (added by other means, e.g. a shell driver) uses the emulator.
function(uk_requires_tokensim name)
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED tokensim RESOURCE_LOCK tokensim_devices)
  get_property(have GLOBAL PROPERTY UK_TOKENSIM_FIXTURE)
  if(have)
    return()
  endif()
  set_property(GLOBAL PROPERTY UK_TOKENSIM_FIXTURE ON)
  set(script ${CMAKE_SOURCE_DIR}/tests/tokensim/tokensim-fixture.sh)
  set(state ${CMAKE_BINARY_DIR}/tokensim-fixture)
  add_test(NAME tokensim_start COMMAND bash ${script} start ${UK_TOKENSIM} ${state})
  add_test(NAME tokensim_stop COMMAND bash ${script} stop ${UK_TOKENSIM} ${state})
  set_tests_properties(tokensim_start PROPERTIES FIXTURES_SETUP tokensim TIMEOUT 120
                       ENVIRONMENT "${UK_WINE_ENV}")
  set_tests_properties(tokensim_stop PROPERTIES FIXTURES_CLEANUP tokensim TIMEOUT 120
                       ENVIRONMENT "${UK_WINE_ENV}")
endfunction()
