#!/bin/sh
# Renders docs/task-window.png: a download task window at 42 %, drawn by the
# image presenter. Run from the repository root after building test_ui.
set -eu
build=${1:-build}
STRIDELOG_TASK_WINDOW_PICTURE="$(pwd)/docs/task-window.png" \
    "$build/tests/test_ui" --gtest_filter='PresenterTest.DocumentationPicture'
