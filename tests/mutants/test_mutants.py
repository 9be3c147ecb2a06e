#!/usr/bin/env python3
"""Checks the mutation tool on a source tree of its own: it mutates code only, never comments,
strings, character literals or preprocessor lines; and a file that a killed run left mutated
is put back at the next start."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

TOOL = os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'mutants',
                    'mutants.py')
SOURCE = r'''#include <cstdio>
#define LIMIT(x) ((x) < 10 ? 1 : \
                  0)
// if (a < b) return 1;
/* x = y + 2;
   return 3; */
static const char *kText = "a < b == 3; return 4;";
int f(int a, int b) {
  int c = a + 1;
  if (c == '"' && a < b) {
    c = 5;
  }
  puts("x > 1; y = 2;");  // c = 7;
  return c;
}
'''
# Every mutant of SOURCE, as (line, operator, mutated line).
EXPECTED = {
    (9, 'arith', 'int c = a - 1;'), (9, 'const', 'int c = a + 2;'), (9, 'const', 'int c = a + 0;'),
    (10, 'cmp', 'if (c != \'"\' && a < b) {'), (10, 'logic', 'if (c == \'"\' || a < b) {'),
    (10, 'cmp', 'if (c == \'"\' && a >= b) {'), (11, 'const', 'c = 6;'), (11, 'delete', ''),
    (13, 'delete', ''), (14, 'return', 'return 0;')}


# Runs the tool copied into ROOT on lib/src and returns its output lines.
def list_mutants(root, *args):
    out = subprocess.run([sys.executable, os.path.join(root, 'tools/mutants/mutants.py'), '--list',
                          *args, 'lib/src'], cwd=root, capture_output=True, text=True, check=True)
    return out.stdout.splitlines()


class MutantsTool(unittest.TestCase):
    # A tree with the tool in tools/mutants and SOURCE in lib/src/f.cpp.
    def setUp(self):
        self.root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.root)
        os.makedirs(os.path.join(self.root, 'tools/mutants'))
        os.makedirs(os.path.join(self.root, 'lib/src'))
        shutil.copy(TOOL, os.path.join(self.root, 'tools/mutants'))
        self.source = os.path.join(self.root, 'lib/src/f.cpp')
        with open(self.source, 'w') as f:
            f.write(SOURCE)

    def test_only_code_is_mutated(self):
        found = set()
        for line in list_mutants(self.root, '-n', '100'):
            where, op, change = line.split(None, 3)[1:]
            found.add((int(where.split(':')[1]), op, change.split('=> ', 1)[1]))
        self.assertEqual(found, EXPECTED)

    def test_a_file_left_mutated_is_restored_for_rebuilding(self):
        backup = os.path.join(self.root, 'tools/mutants/backup/lib/src/f.cpp')
        os.makedirs(os.path.dirname(backup))
        shutil.copy(self.source, backup)
        os.utime(backup, (0, 0))
        with open(self.source, 'w') as f:
            f.write(SOURCE.replace('a + 1', 'a - 1'))
        list_mutants(self.root, '-n', '1')
        with open(self.source) as f:
            self.assertEqual(f.read(), SOURCE)
        self.assertFalse(os.path.exists(backup))
        # A fresh time stamp, or ninja would keep the mutant's object code.
        self.assertGreater(os.path.getmtime(self.source), 1e9)


if __name__ == '__main__':
    unittest.main()
