# Windows tests against the token emulator.
#
# uk_add_token_test(NAME SOURCES ... [LIBS ...] [SERIAL] [TIMEOUT s] [ENV ...]) is uk_add_test
# for a test that needs the emulator: it requires the ctest fixture "tokensim", whose setup test
# tokensim_start starts the native emulator (UK_TOKENSIM) on a free port with a temporary state
# folder and names it in the prefix's machine-wide setting
#   HKLM\SOFTWARE\ZV KESTRA IT Co.,Ltd.\UKey Developer, "VirtualToken" = "127.0.0.1:PORT"
# and whose cleanup test tokensim_stop stops it again. Tests may run in parallel against the one
# emulator: each creates its own tokens with unique serials (tokensim::uniqueSerial) and deletes
# them at the end; a test that needs an exact device set must be SERIAL.
set(UK_TOKENSIM "${CMAKE_SOURCE_DIR}/build/native/bin/tokensim" CACHE FILEPATH
    "Native token emulator the Windows tests start")

function(uk_add_token_test name)
  uk_add_test(${name} ${ARGN})
  set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED tokensim)
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
                       ENVIRONMENT "WINEPREFIX=${UK_WINEPREFIX};WINEDEBUG=-all")
  set_tests_properties(tokensim_stop PROPERTIES FIXTURES_CLEANUP tokensim TIMEOUT 120
                       ENVIRONMENT "WINEPREFIX=${UK_WINEPREFIX};WINEDEBUG=-all")
endfunction()
