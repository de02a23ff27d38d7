#!/usr/bin/env python3
"""The include-layer check on small trees written by the test: every rule
lets its allowed includes through and names file and line of a breach."""
import importlib.util
import os
import sys
import tempfile
import unittest

_SCRIPT = os.path.join(os.path.dirname(__file__), "..", "..", "scripts", "check-includes.py")
_spec = importlib.util.spec_from_file_location("check_includes", _SCRIPT)
check_includes = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(check_includes)

# Headers every case can include.
HEADERS = ["app/doc.h", "processing/frame_worker.h", "grab/grab_renderer.h",
           "capture/video_input.h", "mediagraph/filter_graph.h", "filterbase/base_filter.h",
           "platform/ffmpeg/file_decoder.h", "platform/v4l2/device.h",
           "platform/media/media_types.h", "platform/com/guid.h", "platform/win/win_types.h",
           "include/pelora/tavro_plugin.h", "tavro/tavro.h", "tools/frame_pattern.h"]

# (including file, include line, breach expected)
CASES = [
    # Downwards is fine, at every step of the order.
    ("app/main.cpp", '#include "processing/frame_worker.h"', False),
    ("processing/frame_worker.cpp", '#include "grab/grab_renderer.h"', False),
    ("mediagraph/filter_graph.cpp", '#include "filterbase/base_filter.h"', False),
    ("filterbase/base_filter.cpp", '#include "platform/v4l2/device.h"', False),
    ("platform/ffmpeg/file_decoder.cpp", '#include "platform/media/media_types.h"', False),
    ("platform/win/win_types.cpp", '#include "pelora/tavro_plugin.h"', False),
    ("platform/com/guid.cpp", "#include <pelora/tavro_plugin.h>", False),
    ("grab/grab_renderer.cpp", '#include "grab_renderer.h"', False),  # its own folder
    # Upwards and sideways are breaches.
    ("platform/win/win_types.cpp", '#include "platform/com/guid.h"', True),
    ("platform/media/clock.cpp", '#include "filterbase/base_filter.h"', True),
    ("platform/com/guid.cpp", '#include "mediagraph/filter_graph.h"', True),
    ("platform/ffmpeg/file_decoder.cpp", '#include "platform/v4l2/device.h"', True),
    ("grab/grab_renderer.cpp", '#include "mediagraph/filter_graph.h"', True),
    ("capture/video_input.cpp", '#include "grab/grab_renderer.h"', True),
    ("mediagraph/filter_graph.cpp", '#include "capture/video_input.h"', True),
    ("processing/frame_worker.cpp", '#include "app/doc.h"', True),
    ("filterbase/base_filter.cpp", "#include <platform/../grab/grab_renderer.h>", True),
    # Product code never includes tools/ or a header that does not exist.
    ("processing/frame_worker.cpp", '#include "tools/frame_pattern.h"', True),
    ("grab/grab_renderer.cpp", '#include "grab/missing.h"', True),
    # Qt: app/ and the processing dialog only.
    ("app/view.cpp", "#include <QWidget>", False),
    ("processing/bitmap_dialog.h", "#include <QtWidgets/QDialog>", False),
    ("processing/frame_worker.cpp", "#include <QString>", True),
    ("filterbase/base_filter.cpp", "#include <qglobal.h>", True),
    ("platform/win/win_types.cpp", "  #  include <QMutex>", True),
    # The plug-in sees only its public header.
    ("tavro/tavro.cpp", '#include "pelora/tavro_plugin.h"', False),
    ("tavro/tavro.cpp", '#include "tavro.h"', False),
    ("tavro/tavro.cpp", '#include "platform/win/win_types.h"', True),
    # tests/, tools/ and bench/ may include anything.
    ("tests/app/view_test.cpp", '#include "app/doc.h"', False),
    ("tools/clipgen.cpp", "#include <QString>", False),
    ("bench/graph/bench.cpp", '#include "mediagraph/filter_graph.h"', False),
    # A folder outside the order.
    ("camera/thing.cpp", "#include <vector>", True),
]


def write(root, rel, text):
    path = os.path.join(root, rel)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


class CheckIncludesTest(unittest.TestCase):
    def test_each_rule_names_file_and_line_of_a_breach(self):
        for rel, line, breach in CASES:
            with self.subTest(file=rel, include=line), tempfile.TemporaryDirectory() as root:
                for h in HEADERS:
                    write(root, h, "#pragma once\n")
                write(root, rel, "// first line\n#include <vector>\n" + line + "\n")
                got = check_includes.check_tree(root)
                self.assertEqual(bool(got) and got[0].startswith(rel + ":"), breach, got)
                if breach and not rel.startswith("camera/"):
                    self.assertEqual(len(got), 1, got)
                    self.assertTrue(got[0].startswith(f"{rel}:3: "), got)

    def test_build_trees_and_hidden_folders_are_not_read(self):
        with tempfile.TemporaryDirectory() as root:
            write(root, "platform/win/win_types.h", "#pragma once\n")
            write(root, "out/CMakeCache.txt", "")
            write(root, "out/platform/win/x.cpp", '#include "app/doc.h"\n')
            write(root, ".git/x.cpp", "#include <QString>\n")
            self.assertEqual(check_includes.check_tree(root), [])

    def test_the_tree_itself_keeps_the_order(self):
        root = os.path.join(os.path.dirname(__file__), "..", "..")
        self.assertEqual(check_includes.check_tree(os.path.abspath(root)), [])


if __name__ == "__main__":
    sys.exit(unittest.main())
