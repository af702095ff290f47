# The source files of each area. A new file is one line here.

set(UNINST_SOURCES_SUPPORT
    support/memory.cpp
    support/strings.cpp
    support/locked_list.cpp
    support/startup.cpp
    support/reg_keys.cpp
    support/module_path.cpp
    support/report.cpp
    support/plan_mode.cpp
)

set(UNINST_SOURCES_DATA
    data/config_text.cpp
    data/cdf_chunk.cpp
    data/cdf.cpp
    data/discovery.cpp
)

set(UNINST_SOURCES_SCRIPT
    script/database.cpp
    script/objects.cpp
    script/object_walk.cpp
    script/companions.cpp
    script/object_text.cpp
    script/script_parser.cpp
    script/text_builder.cpp
    script/text_expansion.cpp
    script/builtins.cpp
    script/object_keys.cpp
    script/companion_objects.cpp
    script/groups.cpp
    script/load_script.cpp
)

set(UNINST_SOURCES_SYSTEM
    system/system_state.cpp
    system/shell_item.cpp
    system/shell_files.cpp
    system/shell_link.cpp
    system/progman.cpp
    system/process.cpp
    system/protected_paths.cpp
    system/protected_keys.cpp
    system/access_rights.cpp
    system/gate_paths.cpp
    system/nt_files.cpp
    system/plan_state.cpp
    system/deletion_gate.cpp
    system/gate_registry.cpp
)

set(UNINST_SOURCES_ENGINE
    engine/executor.cpp
    engine/executor_rules.cpp
    engine/pass_components.cpp
    engine/pass_removal.cpp
    engine/prepare.cpp
    engine/shared_objects.cpp
    engine/shared_content.cpp
    engine/release_journal.cpp
    engine/restart_deletion.cpp
    engine/deferred_removal.cpp
    engine/group_removal.cpp
    engine/registration.cpp
    engine/removal_report.cpp
    engine/uninstall_callback.cpp
    engine/worker.cpp
)

set(UNINST_SOURCES_UI
    ui/dialog_texts.cpp
    ui/message_box.cpp
    ui/message_box_window.cpp
    ui/dialogs.cpp
    ui/progress_dialogs.cpp
)

set(UNINST_SOURCES_DRAW
    draw/font_object.cpp
)

set(UNINST_SOURCES_APP
    app/session.cpp
    app/command_line.cpp
    app/session_config.cpp
    app/modes.cpp
    app/resync.cpp
    app/driver.cpp
    app/handshake.cpp
    app/relocation.cpp
    app/unattended.cpp
)

# Resources: the dialogs and pictures (linked into the program and the test programs) and the program's
# version and manifest.
set(UNINST_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../ui/dialogs.rc)
set(UNINST_PROGRAM_RESOURCES ${CMAKE_CURRENT_LIST_DIR}/../ui/program.rc)

# The program's entry point; everything else is in the core library that the tests link too.
set(UNINST_SOURCES_MAIN
    app/main.cpp
)

# Test programs, one per area: name, then its sources.
set(UNINST_TESTS_SUPPORT
    tests/support/memory_test.cpp
    tests/support/strings_test.cpp
    tests/support/locked_list_test.cpp
    tests/support/startup_test.cpp
)
set(UNINST_TESTS_DATA
    tests/data/config_text_test.cpp
    tests/data/cdf_chunk_test.cpp
    tests/data/cdf_test.cpp
    tests/data/discovery_test.cpp
)
set(UNINST_TESTS_SCRIPT
    tests/script/database_test.cpp
    tests/script/objects_test.cpp
    tests/script/script_parser_test.cpp
    tests/script/paths_test.cpp
    tests/script/builtins_test.cpp
    tests/script/companions_test.cpp
)
set(UNINST_TESTS_SYSTEM
    tests/system/shell_test.cpp
    tests/system/deletion_gate_test.cpp
    tests/system/system_state_test.cpp
)
set(UNINST_TESTS_PROGMAN
    tests/system/progman_test.cpp
    tests/engine/group_removal_test.cpp
)
set(UNINST_TESTS_ENGINE
    tests/engine/executor_test.cpp
    tests/engine/callback_test.cpp
    tests/engine/shared_objects_test.cpp
)
set(UNINST_TESTS_UI
    tests/ui/dialog_texts_test.cpp
    tests/ui/message_box_test.cpp
    tests/ui/progress_dialogs_test.cpp
)
set(UNINST_TESTS_APP
    tests/app/command_line_test.cpp
    tests/app/program_test.cpp
    tests/app/session_test.cpp
    tests/app/resync_test.cpp
)
set(UNINST_TESTS_UNINSTALL
    tests/app/uninstall_test.cpp
    tests/app/unattended_test.cpp
    tests/app/fault_test.cpp
    tests/app/hostile_test.cpp
    tests/app/plan_test.cpp
)
