# Windows tests against our HTTP test server (tests/common/http_test_server.py).
#
# uk_requires_http_server(TEST): TEST requires the ctest fixture "http_server", whose setup test
# http_server_start starts the server on 127.0.0.1 with a free port, and whose cleanup test
# http_server_stop ends it. TEST gets UK_HTTP_DIR, the server's folder as a Windows path: "port"
# holds the port, files put under "root" are served by their path (see the script for the
# generated answers under /gen/). Tests that point the programs at the server through the
# machine-wide "BankWebHost" value set it themselves and put it back.
function(uk_requires_http_server name)
  set(dir ${CMAKE_BINARY_DIR}/http-fixture)
  set_property(TEST ${name} APPEND PROPERTY FIXTURES_REQUIRED http_server)
  # Wine takes a configured proxy even for 127.0.0.1.
  set_property(TEST ${name} APPEND PROPERTY ENVIRONMENT "UK_HTTP_DIR=Z:${dir}" "no_proxy=127.0.0.1,localhost"
               "http_proxy=" "https_proxy=")
  get_property(have GLOBAL PROPERTY UK_HTTP_FIXTURE)
  if(have)
    return()
  endif()
  set_property(GLOBAL PROPERTY UK_HTTP_FIXTURE ON)
  set(script ${CMAKE_SOURCE_DIR}/tests/common/http-fixture.sh)
  add_test(NAME http_server_start COMMAND bash ${script} start ${dir})
  add_test(NAME http_server_stop COMMAND bash ${script} stop ${dir})
  set_tests_properties(http_server_start PROPERTIES FIXTURES_SETUP http_server TIMEOUT 30)
  set_tests_properties(http_server_stop PROPERTIES FIXTURES_CLEANUP http_server TIMEOUT 30)
endfunction()
