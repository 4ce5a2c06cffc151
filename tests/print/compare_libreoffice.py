"""The program's PDF of a generated list beside LibreOffice's own PDF of the same saved
workbook, for the full list (15 categories of 20 items) and the sample list:

    pantrimo --pdf list.pdf --xls list.xls
    soffice --headless --convert-to pdf list.xls

Same page count and page size; the content's box (the non-white pixels of the page at 72 dpi)
within 3 % of the page in position and of its own size; every caption and item in the text;
every font embedded. The figures are printed for the record."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import pdf_pages

PANTRIMO = sys.argv.pop(1)
ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TOLERANCE = 0.03


def sample_lists():
    source = open(os.path.join(ROOT, "platform", "facts", "SampleList.h"), encoding="utf-8").read()
    lists = {}
    for category, text in re.findall(r'\{\d+, (\d+), "([^"]*)"\}', source):
        lists.setdefault(int(category), []).append(text)
    return lists


def captions():
    source = open(os.path.join(ROOT, "platform", "facts", "Categories.h"), encoding="utf-8").read()
    block = source[source.index("kCategoryCaptions"):]
    return re.findall(r'QStringLiteral\("([^"]*)"\)', block)[:15]


def full_lists():
    return {i: [f"{name.split('/')[0][:9].strip()} item {k + 1}" for k in range(20)]
            for i, name in enumerate(captions())}


class BesideLibreOffice(unittest.TestCase):
    def setUp(self):
        self.soffice = shutil.which("soffice")
        if not self.soffice:
            self.skipTest("LibreOffice is not installed")
        self.root = tempfile.mkdtemp(prefix="pantrimo-lo-pdf-")

    def tearDown(self):
        shutil.rmtree(self.root, ignore_errors=True)

    def make(self, name, lists):
        config = os.path.join(self.root, name + "-config")
        temp = os.path.join(self.root, name + "-temp")
        os.makedirs(config)
        os.makedirs(temp)
        with open(os.path.join(config, "Quillmark.ini"), "w", encoding="utf-8") as f:
            f.write("[Pantrimo]\n")
            for i, items in lists.items():
                f.write(f'List{i}="{";".join(items)}"\n')
        ours = os.path.join(self.root, name + ".pdf")
        xls = os.path.join(self.root, name + ".xls")
        env = dict(os.environ, XDG_CONFIG_HOME=config, TEMP=temp, PANTRIMO_EXCEL="builtin")
        env.pop("DISPLAY", None)
        run = subprocess.run([PANTRIMO, "--pdf", ours, "--xls", xls], env=env, capture_output=True, text=True,
                             timeout=120)
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertEqual(os.listdir(temp), [], "the run left files behind")
        outdir = os.path.join(self.root, "lo-" + name)
        subprocess.run([self.soffice, f"-env:UserInstallation=file://{self.root}/profile", "--headless",
                        "--convert-to", "pdf", "--outdir", outdir, xls], check=True, capture_output=True, timeout=240)
        return ours, os.path.join(outdir, name + ".pdf")

    def compare(self, name, lists):
        ours, theirs = self.make(name, lists)
        our_count, our_size, info = pdf_pages.info(ours)
        lo_count, lo_size, _ = pdf_pages.info(theirs)
        self.assertEqual(info["Title"], "Grocery List")
        self.assertEqual(our_count, lo_count)
        self.assertAlmostEqual(our_size[0], lo_size[0], delta=1)
        self.assertAlmostEqual(our_size[1], lo_size[1], delta=1)

        (ox0, oy0, ox1, oy1), (w, h) = pdf_pages.content_box(ours)
        (lx0, ly0, lx1, ly1), _ = pdf_pages.content_box(theirs)
        figures = {
            "left": (ox0 - lx0) / w, "top": (oy0 - ly0) / h,
            "width": (ox1 - ox0) / (lx1 - lx0) - 1, "height": (oy1 - oy0) / (ly1 - ly0) - 1,
        }
        print(f"\n{name}: {our_count} page(s) {our_size[0]:.0f} x {our_size[1]:.0f} pt; content box ours "
              f"{(ox0, oy0, ox1, oy1)} LibreOffice {(lx0, ly0, lx1, ly1)} (pt); differences "
              + ", ".join(f"{k} {v * 100:+.1f} %" for k, v in figures.items()), flush=True)
        for what, difference in figures.items():
            self.assertLessEqual(abs(difference), TOLERANCE, f"{name}: {what} differs by {difference * 100:.1f} %")

        text = pdf_pages.text(ours)
        words = " ".join(text.split())
        for caption in captions():
            self.assertIn(caption.strip(), words)
        for items in lists.values():
            for item in items:
                self.assertIn(item, words)
        fonts = pdf_pages.fonts(ours)
        self.assertTrue(fonts)
        self.assertEqual([f for f, embedded in fonts if not embedded], [])

    def test_full_list(self):
        self.compare("full", full_lists())

    def test_sample_list(self):
        self.compare("sample", sample_lists())


if __name__ == "__main__":
    unittest.main(verbosity=2)
