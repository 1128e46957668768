"""DeleteTree never walks through a directory link, not even one given as
its root. Windows programs under Wine cannot make one, but a Unix symbolic
link shows through Wine as a directory reparse point (attributes 0x410), so
the tree is prepared from here and the installer's DeleteTree is run on it
by zvtool."""
import os
import shutil
import unittest

from zvtest.session import tool, win_path, work_dir


class DeleteTreeLinkTest(unittest.TestCase):
    def test_linked_directory_contents_are_left_alone(self):
        base = work_dir(self.id())
        shutil.rmtree(base, ignore_errors=True)
        tree, target = base / "tree", base / "target"
        (tree / "sub").mkdir(parents=True)
        (target / "deeper").mkdir(parents=True)
        (tree / "one.txt").write_text("1")
        (tree / "sub" / "two.txt").write_text("2")
        (target / "keep.txt").write_text("k")
        (target / "deeper" / "keep2.txt").write_text("k2")
        # One link at the top, one further down.
        os.symlink(target, tree / "link")
        os.symlink(target, tree / "sub" / "link")

        self.assertEqual("2", tool("deltree", win_path(tree)))

        self.assertEqual("k", (target / "keep.txt").read_text())
        self.assertEqual("k2", (target / "deeper" / "keep2.txt").read_text())
        self.assertFalse((tree / "one.txt").exists())
        self.assertFalse((tree / "sub" / "two.txt").exists())
        # Whatever is left of the tree is the links, still pointing at the
        # target (Wine will not remove a link to a non-empty directory), and
        # the directories holding them.
        for folder, directories, files in os.walk(tree):
            self.assertEqual([], files)
            for name in directories:
                path = os.path.join(folder, name)
                if os.path.islink(path):
                    self.assertEqual(str(target), os.path.realpath(path))
        shutil.rmtree(base)

    def test_root_that_is_a_link_is_left_alone(self):
        # What an elevated clean-up would meet if a directory it made had
        # been swapped for a link to somewhere else.
        base = work_dir(self.id())
        shutil.rmtree(base, ignore_errors=True)
        target = base / "target"
        (target / "deeper").mkdir(parents=True)
        (target / "keep.txt").write_text("k")
        (target / "deeper" / "keep2.txt").write_text("k2")
        os.symlink(target, base / "link")

        self.assertEqual("0", tool("deltree", win_path(base) + "\\link"))

        self.assertEqual("k", (target / "keep.txt").read_text())
        self.assertEqual("k2", (target / "deeper" / "keep2.txt").read_text())
        shutil.rmtree(base)


if __name__ == "__main__":
    unittest.main()
