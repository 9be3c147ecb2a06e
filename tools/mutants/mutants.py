#!/usr/bin/env python3
"""Mutation testing: injects one small fault at a time into C/C++ sources, rebuilds, runs the
tests that can see it and reports how many of the faults they catch, with every survivor."""
import argparse
import contextlib
import json
import os
import random
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BUILD, BUILD_SAN = os.path.join(ROOT, 'build'), os.path.join(ROOT, 'build-san')
BACKUP = os.path.join(ROOT, 'tools', 'mutants', 'backup')
SAN_LABELS = '^(zare|sanitize)$'
# The files whose tests also run under the sanitizers: the library, the loaders, the sound
# stand-in, the pack and capture tools.
SANITIZED = re.compile(r'lib/src/|src/util\.cpp$|src/fsound\.cpp$|src/pulseout\.cpp$|src/mp3mem/|tools/pack/|tools/capture/')
SAN_ENV = {'ASAN_OPTIONS': 'detect_leaks=1:abort_on_error=0', 'UBSAN_OPTIONS': 'print_stacktrace=1:halt_on_error=1',
           'LSAN_OPTIONS': f'suppressions={ROOT}/tests/lsan.supp'}
FLIP = {'<': '>=', '>=': '<', '>': '<=', '<=': '>', '==': '!=', '!=': '==', '&&': '||', '||': '&&', '+': '-', '-': '+'}
# Comparisons, logic and arithmetic only with blanks around them, as the project writes them;
# that keeps template brackets, '->', '<<' and unary signs out.
SWAP = re.compile(r'(?<=\s)(==|!=|<=|>=|<|>|&&|\|\||\+|-)(?=\s)')
INT_LITERAL = re.compile(r'(?<![\w.])(0[xX][0-9a-fA-F]+|\d+)([uUlL]*)(?![\w.\'])')
NOT_DELETABLE = {'return', 'case', 'default', 'else', 'if', 'for', 'while', 'do', 'switch', 'typedef', 'using',
                 'static_assert', 'namespace', 'template', 'struct', 'class', 'enum', 'goto', 'extern'}
# What is not code: preprocessor lines with their continuations, comments, raw strings, strings
# and character literals (a quote after a digit is a digit separator).
NOT_CODE = re.compile(r'''^[ \t]*\#(?:.*\\\n)*.* | //.* | /\*[\s\S]*?(?:\*/|\Z)
    | R"(?P<d>[^(\s]*)\([\s\S]*?\)(?P=d)" | "(?:\\.|[^"\\\n])*"? | (?<!\d)'(?:\\.|[^'\\\n])*'?''', re.M | re.X)
DECLARATION = re.compile(r'^[A-Za-z_][\w:<>,]*(\s*[*&]+\s*|\s+)[A-Za-z_(]')


# Blanks out comments, literals and preprocessor lines, keeping columns and line breaks.
def mask(text):
    return NOT_CODE.sub(lambda m: re.sub(r'[^\n]', ' ', m.group()), text)


# What replaces a returned value, by the return type of the nearest signature in column 0 above;
# None where the type has no such value.
def returned_instead(code_lines, index, value):
    head = next((line[:line.index('(')].split() for line in reversed(code_lines[:index + 1])
                 if line[:1].isalpha() and '(' in line), [])
    rtype = [w for w in head[:-1] if w not in ('static', 'inline', 'constexpr')]
    if rtype and ('*' in ''.join(rtype) or head[-1].startswith('*')):
        return None if value in ('nullptr', 'NULL', '0') else 'nullptr'
    if rtype in ([], ['void']):
        return None
    if rtype[-1] == 'bool':
        return 'true' if value == 'false' else 'false'
    return '-1' if value == '0' else '0'


# True when a code line is a whole statement that can go without breaking the syntax around it.
def deletable(code, prev):
    s, word = code.strip(), re.match(r'\w*', code.strip()).group()
    return (s.endswith(';') and prev.rstrip().endswith((';', '{', '}', ':')) and s.count('(') == s.count(')')
            and not re.search('[{}]', s) and word not in NOT_DELETABLE
            and (word in ('delete', 'break', 'continue') or not DECLARATION.match(s)))


# Every mutant of one file: (relative path, line number, operator, original line, mutated line).
def file_mutants(path):
    with open(path, encoding='utf-8', errors='surrogateescape') as f:
        text = f.read()
    lines, code, found, prev = text.split('\n'), mask(text).split('\n'), [], '{'
    rel = os.path.relpath(path, ROOT)
    for i, (line, c) in enumerate(zip(lines, code)):
        def add(op, start, end, new):
            found.append((rel, i + 1, op, line, line[:start] + new + line[end:]))
        for m in SWAP.finditer(c):
            add({'&&': 'logic', '||': 'logic', '+': 'arith', '-': 'arith'}.get(m.group(), 'cmp'), m.start(), m.end(),
                FLIP[m.group()])
        for m in INT_LITERAL.finditer(c):
            hexa = m.group(1)[:2].lower() == '0x'
            value = int(m.group(1), 16 if hexa else 10)
            for new in [value + 1] + [0] * (value == 1):
                add('const', m.start(), m.end(), (hex(new) if hexa else str(new)) + m.group(2))
        ret = re.match(r'(\s*return\s+).*;\s*$', c)
        new = ret and returned_instead(code, i, line[ret.end(1):c.rindex(';')].strip())
        if new is not None:
            add('return', ret.end(1), c.rindex(';'), new)
        if deletable(c, prev):
            add('delete', len(line) - len(line.lstrip()), len(line), '')
        prev = c if c.strip() else prev
    return found


# Picks n mutants with the seed, one per line and operator before any gets a second, so that a
# table row of twenty literals weighs no more than a line with one comparison.
def choose(candidates, n, seed):
    rng, groups = random.Random(seed), {}
    for m in candidates:
        groups.setdefault(m[:3], []).append(m)
    shuffled = [rng.sample(g, len(g)) for g in groups.values()]
    rng.shuffle(shuffled)
    return [g[k] for k in range(max(map(len, shuffled), default=0)) for g in shuffled if k < len(g)][:n]


# The source files named, folders standing for their .c/.cpp files.
def source_files(args):
    files = []
    for a in args:
        p = os.path.abspath(a if os.path.exists(a) else os.path.join(ROOT, a))
        if not os.path.exists(p):
            sys.exit(f'mutants: no such file or folder: {a}')
        files += sorted(os.path.join(p, f) for f in os.listdir(p) if f.endswith(('.c', '.cpp'))) \
            if os.path.isdir(p) else [p]
    return files


# Replaces a file by its mutant, after keeping the original where the next run finds it.
def write_mutant(path, text):
    backup = os.path.join(BACKUP, os.path.relpath(path, ROOT))
    os.makedirs(os.path.dirname(backup), exist_ok=True)
    shutil.copy(path, backup + '.tmp')
    os.replace(backup + '.tmp', backup)
    with open(path, 'w', encoding='utf-8', errors='surrogateescape') as f:
        f.write(text)


# Moves the original back, with a new time stamp so that ninja rebuilds it; at the start, for
# every file that a killed run left mutated.
def restore(path=None):
    if path is None:
        for folder, _, names in os.walk(BACKUP):
            for name in (n for n in names if not n.endswith('.tmp')):
                print(f'mutants: restoring {os.path.relpath(os.path.join(folder, name), BACKUP)}, left mutated')
                restore(os.path.join(ROOT, os.path.relpath(os.path.join(folder, name), BACKUP)))
        return
    backup = os.path.join(BACKUP, os.path.relpath(path, ROOT))
    if os.path.exists(backup):
        os.utime(backup)
        os.replace(backup, path)


# Where a mutant may signal processes it does not own (a guard against kill(-1) flipped, say), the
# builds and tests run in a PID namespace of their own when the tool may make one (as root).
SANDBOX = ['unshare', '--pid', '--fork', '--kill-child', '--mount-proc'] \
    if os.geteuid() == 0 and shutil.which('unshare') else []


# Runs a command; its process group is killed after, so nothing a mutant started lives on.
def run(cmd, env=None, timeout=None, cwd=ROOT):
    p = subprocess.Popen(SANDBOX + cmd, cwd=cwd, env=env, stdout=subprocess.PIPE,
                         stderr=subprocess.STDOUT, text=True, errors='replace', start_new_session=True)
    try:
        out = p.communicate(timeout=timeout)[0]
        return p.returncode, out
    finally:
        with contextlib.suppress(ProcessLookupError):
            os.killpg(p.pid, signal.SIGKILL)
        p.wait()


# Configures a build folder as ./test.sh does when there is none, keeping the compile commands.
def configure(build, extra):
    cmd = ['cmake', '-S', ROOT, '-B', build, '-DCMAKE_EXPORT_COMPILE_COMMANDS=ON']
    if not os.path.exists(os.path.join(build, 'CMakeCache.txt')):
        cmd += ['-G', 'Ninja', '-DPARKHAUS_WERROR=ON', '-DBUILD_TESTING=ON', '-DPARKHAUS_BENCH=OFF'] + extra
    rc, out = run(cmd)
    if rc:
        sys.exit(f'mutants: configuring {build} failed:\n{out}')


# The compile commands of each source file, without debug information and outputs.
def compile_commands():
    with open(os.path.join(BUILD, 'compile_commands.json')) as f:
        entries = json.load(f)
    commands = {}
    for e in entries:
        args = e.get('arguments') or shlex.split(e['command'])
        drop = {i + 1 for i, a in enumerate(args) if a in ('-o', '-MF', '-MT', '-MQ')}
        args = [a for i, a in enumerate(args) if i not in drop and i + 1 not in drop
                and a not in ('-MD', '-MMD') and not re.fullmatch(r'-g(gdb)?\d?', a)]
        commands.setdefault(os.path.abspath(e['file']), []).append((e['directory'], args))
    return commands


# The object code of a file as it now stands, one per compile command; None if it does not compile.
def object_code(commands):
    objects = []
    with tempfile.TemporaryDirectory() as tmp:
        for directory, args in commands:
            if run(args + ['-o', os.path.join(tmp, 'm.o')], cwd=directory)[0]:
                return None
            with open(os.path.join(tmp, 'm.o'), 'rb') as f:
                objects.append(f.read())
    return objects


# For each test of a build: its program and the programs of the build it names inside (a test
# that runs the demo or a tool carries its path), so that only tests that can see a change run.
def test_programs(build):
    out = run(['ctest', '--test-dir', build, '--show-only=json-v1'])[1]
    tests = {t['name']: t['command'][0] for t in json.loads(out[out.index('{'):])['tests']}
    # The programs a test may run: the test programs and every program in the build folder's top.
    top = (os.path.join(build, f) for f in os.listdir(build))
    programs = set(tests.values()) | {p for p in top if os.path.isfile(p) and os.access(p, os.X_OK)}
    seen = {}
    for name, program in tests.items():
        with open(program, 'rb') as f:
            data = f.read()
        seen[name] = [program] + [p for p in programs if p.startswith(build) and p.encode() in data]
    return seen


# The time stamps of all the programs the tests use.
def stamps(seen):
    return {p: os.path.getmtime(p) for programs in seen.values() for p in programs if os.path.exists(p)}


# Runs a ctest selection and returns the tests that failed, and failed again when run alone (a
# test may fail now and then under load; then the selection runs once more).
def failures(cmd, env):
    for _ in range(2):
        rc, out = run(cmd, env)
        listed = re.findall(r'^\s*\d+ - (\S+) \(', out.split('tests FAILED:')[-1], re.M)
        names = (listed or ['?']) if rc else []
        if not names or run(cmd + ['-R', f'^({"|".join(names)})$'], env)[0]:
            return names
    return []


# Builds; None when the build succeeds. The file compiled alone, so a failed or endless build is a
# link error (uncompilable), or a step that ran a program of the build, such as the pack tool
# making the demo's pack, which then caught the mutant.
def build_outcome(folder, args, timeout):
    try:
        rc, out = run(['cmake', '--build', folder] + args, timeout=timeout * 5)
    except subprocess.TimeoutExpired:
        return 'killed', ['build: a step did not end']
    if not rc:
        return None
    step = re.search(r'^FAILED: .*\n(.*)$', out, re.M)
    if step and re.search(r'(^|&& )' + re.escape(os.path.join(folder, '')), step.group(1)):
        return 'killed', ['build: ' + step.group(1).split('&& ')[-1].split()[0]]
    return 'uncompilable', []


# Builds, then runs the tests whose programs changed, quick ones first, then maybe the sanitizer
# ones: the outcome and the tests that failed.
def test_mutant(ctx, san):
    jobs, before = ['-j', str(ctx['jobs'])], stamps(ctx['seen'])
    built = build_outcome(BUILD, jobs, ctx['timeout'])
    if built:
        return built
    after = stamps(ctx['seen'])
    changed = [t for t, programs in ctx['seen'].items() if ctx['all'] or any(before[p] != after[p] for p in programs)]
    ctest = ['ctest', '--test-dir', BUILD, '--stop-on-failure', '--timeout', str(ctx['timeout'])] + jobs
    for slow in (False, True):
        chosen = [t for t in changed if (t in ctx['slow']) == slow]
        failed = chosen and failures(ctest + ['-R', f'^({"|".join(chosen)})$'], ctx['env'])
        if failed:
            return 'killed', failed
    if san:
        built = build_outcome(BUILD_SAN, jobs + ['--target'] + ctx['san_targets'], ctx['timeout'])
        if built:
            return built
        failed = failures(['ctest', '--test-dir', BUILD_SAN, '-L', SAN_LABELS] + jobs, ctx['san_env'])
        if failed:
            return 'killed', ['san:' + t for t in failed]
    return 'survived', []


# Configures and builds, and checks that the unmutated code passes, or every mutant looks caught.
def prepare(ctx, san):
    configure(BUILD, [])
    if san:
        configure(BUILD_SAN, ['-DCMAKE_C_COMPILER=clang', '-DCMAKE_CXX_COMPILER=clang++', '-DPARKHAUS_SANITIZE=ON'])
        if run(['cmake', '--build', BUILD_SAN, '-j', str(ctx['jobs'])])[0]:
            sys.exit('mutants: the sanitizer build fails without mutants')
        # CTest names a test's program only once it has been built.
        out = run(['ctest', '--test-dir', BUILD_SAN, '-L', SAN_LABELS, '--show-only=json-v1'])[1]
        tests = json.loads(out[out.index('{'):])['tests']
        ctx['san_targets'] = sorted({os.path.basename(t['command'][0]) for t in tests})
    if run(['cmake', '--build', BUILD, '-j', str(ctx['jobs'])])[0]:
        sys.exit('mutants: the build fails without mutants')
    ctx['seen'], ctx['all'], ctx['slow'] = test_programs(BUILD), True, set()
    print('mutants: checking that the unmutated code passes its tests', flush=True)
    began = time.time()
    outcome, failed = test_mutant(ctx, san)
    if outcome != 'survived':
        sys.exit(f'mutants: without mutants the code is {outcome}: {" ".join(failed)}')
    # Tests that took over 10 s run after the others, so that a quick one catches a mutant first.
    with open(os.path.join(BUILD, 'Testing', 'Temporary', 'CTestCostData.txt')) as f:
        rows = [line.split() for line in f.read().split('---')[0].splitlines()]
    ctx['slow'], ctx['all'] = {r[0] for r in rows if len(r) == 3 and float(r[2]) > 10}, False
    ctx['commands'] = compile_commands()
    print(f'mutants: {time.time() - began:.0f} s for all tests', flush=True)


# Tries one mutant, restoring the file whatever happens: its outcome and the tests that failed.
def try_mutant(ctx, mutant):
    rel, number, _, _, new_line = mutant
    path = os.path.join(ROOT, rel)
    with open(path, encoding='utf-8', errors='surrogateescape') as f:
        lines = f.read().split('\n')
    lines[number - 1] = new_line
    try:
        write_mutant(path, '\n'.join(lines))
        objects = object_code(ctx['commands'].get(path, []))
        if objects is None:
            return 'uncompilable', []
        if objects == ctx['originals'][path]:
            return 'equivalent', []
        return test_mutant(ctx, bool(SANITIZED.match(rel)))
    finally:
        restore(path)


# Prints the score and the survivors, and saves every result as JSON when asked to.
def report(results, opts, seconds):
    count = {k: sum(r['outcome'] == k for r in results) for k in ('killed', 'survived', 'uncompilable', 'equivalent')}
    if opts.json:
        with open(opts.json, 'w') as f:
            json.dump({'command': sys.argv, 'counts': count, 'results': results}, f, indent=1)
    scored = count['killed'] + count['survived']
    share = f' = {100 * count["killed"] / scored:.1f} %' if scored else ''
    print(f'\nScore: {count["killed"]} killed / {scored} compiled with changed object code{share}')
    print(f'Skipped: {count["uncompilable"]} uncompilable, {count["equivalent"]} equivalent; '
          f'{len(results)} mutants in {seconds / 60:.1f} min')
    print('Survivors:' if count['survived'] else 'No survivors.')
    for r in (r for r in results if r['outcome'] == 'survived'):
        print(f'  {r["file"]}:{r["line"]}  {r["original"].strip()} => {r["mutated"].strip()}')


# Picks the mutants with the seed, then tries them one by one: a line each, the score at the end.
def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument('files', nargs='+', metavar='FILE', help='source files or folders')
    parser.add_argument('-n', type=int, default=20, help='number of mutants (default 20)')
    parser.add_argument('--seed', type=int, default=1, help='seed of the choice (default 1)')
    parser.add_argument('--jobs', '-j', type=int, default=2, help='build and test jobs')
    parser.add_argument('--timeout', type=int, default=120, help='seconds per test (default 120)')
    parser.add_argument('--list', action='store_true', help='only list the chosen mutants')
    parser.add_argument('--json', help='save the results to this file')
    opts = parser.parse_args()
    # SIGTERM raises KeyboardInterrupt like Ctrl-C, so that the finally blocks clean up.
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    restore()
    chosen = choose([m for path in source_files(opts.files) for m in file_mutants(path)], opts.n, opts.seed)
    if opts.list:
        for i, (rel, number, op, old, new) in enumerate(chosen, 1):
            print(f'{i:4} {rel}:{number} {op}  {old.strip()} => {new.strip()}')
        return
    env = {**os.environ, 'SDL_AUDIODRIVER': os.environ.get('SDL_AUDIODRIVER', 'dummy')}
    ctx = {'env': env, 'san_env': {**env, **SAN_ENV}, 'jobs': opts.jobs, 'timeout': opts.timeout}
    san, results, start = any(SANITIZED.match(m[0]) for m in chosen), [], time.time()
    try:
        prepare(ctx, san)
        paths = {os.path.join(ROOT, m[0]) for m in chosen}
        ctx['originals'] = {p: object_code(ctx['commands'].get(p, [])) for p in paths}
        missing = [os.path.relpath(p, ROOT) for p, code in ctx['originals'].items() if not code]
        if missing:
            sys.exit('mutants: not compiled by the build: ' + ' '.join(missing))
        for i, mutant in enumerate(chosen, 1):
            began = time.time()
            outcome, failed = try_mutant(ctx, mutant)
            results.append(dict(zip(('file', 'line', 'operator', 'original', 'mutated'), mutant), outcome=outcome,
                                failed=failed, seconds=round(time.time() - began, 1)))
            print(f'[{i:3}/{len(chosen)}] {mutant[0]}:{mutant[1]} {mutant[2]:6} {outcome:12} '
                  f'{time.time() - began:6.1f} s  ' + ' '.join(failed[:3]), flush=True)
    except KeyboardInterrupt:
        print('mutants: interrupted; the sources are restored', flush=True)
    report(results, opts, time.time() - start)
    print('mutants: rebuilding the restored sources', flush=True)
    with contextlib.suppress(KeyboardInterrupt):
        for build in [BUILD] + [BUILD_SAN] * san:
            run(['cmake', '--build', build, '-j', str(opts.jobs)])


if __name__ == '__main__':
    main()
