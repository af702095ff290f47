# Included by ctest after the tests are listed: time-outs close to each test's real length. A test
# gets about four times what it takes with both cores busy (under a minute for nearly all), so that a
# Wine process that hangs costs minutes, not a quarter of an hour. Figures: CTestCostData.txt of both
# builds.
set(uninst_test_timeouts
    # Ten and five real runs of the uninstaller, each stopped at a point. A phase ended while it starts is
    # sometimes left alive by Wine (one thread waiting on the server): phase 1 then waits out its five-minute
    # bound for the copy's answer, and the run its own bounds, before the test goes on.
    FaultTest.PhaseTwoEndedAtEachPointOfTheRemoval 900
    FaultTest.PhaseOneEndedAtEachPointOfTheHandshake 600
    # Waits out the 20-second time-out of a silent DDE server.
    ProgmanTest.ARefusedConversationCarriesNothingAndASilentServerFailsTheCall 90
    # Show windows of their own, slower while another test's windows come and go.
    CallbackTest.AWholeRunReportsEveryPassAndObjectToTheChecklist 180
    CommandLineTest.BuildSessionWithoutAConfigurationUndoesEverything 180)
while(uninst_test_timeouts)
    list(POP_FRONT uninst_test_timeouts name seconds)
    set_tests_properties(${name} PROPERTIES TIMEOUT ${seconds})
endwhile()
