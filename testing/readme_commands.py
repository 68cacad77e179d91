#!/usr/bin/python3
"""Runs every command the README shows, over a build made already, so that a README command that breaks
fails the tests.

    readme_commands.py --source TREE --build BUILD [--readme FILE] [--keep]

Each fenced block of the README names its language. A `sh` block runs whole under bash (-e, pipefail), in
README order, in one work folder of its own that looks like the top of the tree to the commands: `build`
is the build given, `tools/run-demo` runs the tree's script over that build (KV_DEMO_BUILD) with its
pictures in the work folder's `out` (KV_DEMO_OUT), `~` is a fresh home folder (so the machine folder is a
fresh one too), and the photos the commands name (photo.dng, A.dng, B.nef, holiday/...) are written by this
test. Every `out/...` file a block names must be there once it has run.

A block that cannot run here (it needs other builds, other compilers or the whole test run) is annotated
on the line before its fence with `<!-- ci: check REASON -->`: it is parsed by `bash -n`, as are the
tools/ scripts it runs, and the scripts, folders, targets and options it names must exist in the tree. A `cpp` block must be a run of whole lines
of examples/develop.cpp, which the build compiles and the `sh` blocks run.
"""
import argparse
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zlib

import numpy

BLOCK_SECONDS = 600
SHOWN_LINES = 40
CHECK_MARK = re.compile(r'^<!--\s*ci:\s*check\b(.*?)-->\s*$')
FENCE = re.compile(r'^```(\S*)\s*$')
TOP_FOLDERS = ('tools/', 'fuzz/', 'bench/', 'examples/', 'cmake/', 'testing/', 'platform/')
TARGET_DEFINITION = re.compile(
    r'\b(?:add_executable|add_library|add_custom_target|kv_add_bench|kv_add_test|kv_add_module)\(\s*([\w.+-]+)')
OUTPUT_FILE = re.compile(r'(?<![\w/.~-])out/[\w./-]+\.(?:png|jpg|jpeg|tif|tiff|ppm|kvraw|pdf|eml)\b')

# The DNG mosaic: 12-bit samples over a black level, in the red-green-green-blue pattern.
DNG_WIDTH, DNG_HEIGHT = 640, 426
DNG_BLACK, DNG_WHITE = 256, 4095


class Block:
    def __init__(self, language, text, line, check):
        self.language, self.text, self.line, self.check = language, text, line, check


def read_blocks(readme):
    """The fenced blocks in order; a fence without a language, or an indented code block, is an error."""
    lines = open(readme, encoding='utf-8').read().split('\n')
    blocks, errors = [], []
    i = 0
    while i < len(lines):
        fence = FENCE.match(lines[i])
        if not fence:
            if (lines[i].startswith('    ') and lines[i].strip() and i > 0 and not lines[i - 1].strip()
                    and not re.match(r'^\s*([-*]|\d+\.)\s', lines[i - 2] if i > 1 else '')):
                errors.append(f'README.md:{i + 1}: an indented code block; fence it with its language')
            i += 1
            continue
        language = fence.group(1)
        start = i + 1
        end = start
        while end < len(lines) and lines[end].strip() != '```':
            end += 1
        if end == len(lines):
            errors.append(f'README.md:{i + 1}: a fence that never closes')
            break
        before = lines[i - 1] if i > 0 else ''
        check = CHECK_MARK.match(before.strip())
        if not language:
            errors.append(f'README.md:{i + 1}: a fenced block without its language (sh, cpp or text)')
        blocks.append(Block(language, '\n'.join(lines[start:end]), i + 1, check.group(1).strip() if check else None))
        i = end + 1
    return blocks, errors


def defined_targets(source):
    """Every target a CMakeLists.txt of the tree defines, the fuzzers among them."""
    targets = set()
    for folder, dirs, files in os.walk(source):
        dirs[:] = [d for d in dirs if not d.startswith(('build', '.', 'out'))]
        if 'CMakeLists.txt' not in files:
            continue
        text = open(os.path.join(folder, 'CMakeLists.txt'), encoding='utf-8').read()
        targets.update(TARGET_DEFINITION.findall(text))
        for names in re.findall(r'(?:set|list\(APPEND)\(?\s*KV_FUZZ_TARGETS\s+([^)]*)\)', text):
            targets.update(name + '_fuzzer' for name in names.split())
    return targets


def defined_options(source):
    options = set()
    for folder, dirs, files in os.walk(source):
        dirs[:] = [d for d in dirs if not d.startswith(('build', '.', 'out'))]
        if 'CMakeLists.txt' in files:
            text = open(os.path.join(folder, 'CMakeLists.txt'), encoding='utf-8').read()
            options.update(re.findall(r'\boption\(\s*(\w+)', text))
            options.update(re.findall(r'\bset\(\s*(\w+)\s+[^)]*\bCACHE\b', text))
    return options


def check_block(block, source, targets, options):
    """What a block that cannot run here must still get right: its syntax and the names it uses."""
    problems = []
    syntax = subprocess.run(['bash', '-n'], input=block.text, text=True, capture_output=True)
    if syntax.returncode != 0:
        problems.append('bash -n: ' + syntax.stderr.strip())
        return problems
    for line in block.text.split('\n'):
        try:
            words = shlex.split(line, comments=True)
        except ValueError as error:
            problems.append(f'{line!r}: {error}')
            continue
        for k, word in enumerate(words):
            word = word.split('=', 1)[-1] if re.match(r'^\w+=', word) else word
            if word.startswith(TOP_FOLDERS) and not os.path.exists(os.path.join(source, word)):
                problems.append(f'{word} is not in the tree')
            elif word.startswith('tools/') and os.path.isfile(os.path.join(source, word)):
                script = os.path.join(source, word)
                if not os.access(script, os.X_OK):
                    problems.append(f'{word} is not executable')
                elif open(script, 'rb').read(64).startswith(b'#!/usr/bin/env bash'):
                    parsed = subprocess.run(['bash', '-n', script], text=True, capture_output=True)
                    if parsed.returncode != 0:
                        problems.append(f'bash -n {word}: ' + parsed.stderr.strip())
            built = re.match(r'^build[\w-]*/(.+)/([\w.+-]+)$', word)
            if built and not word.endswith(('.log', '.txt')):
                folder, program = built.groups()
                if not os.path.isdir(os.path.join(source, folder)):
                    problems.append(f'{word}: no folder {folder} in the tree')
                if program not in targets:
                    problems.append(f'{word}: no target {program} in the CMake files')
            if k > 0 and words[k - 1] == '--target' and word not in targets:
                problems.append(f'--target {word}: no such target in the CMake files')
            option = re.match(r'^-D(KV_\w+)=', word)
            if option and option.group(1) not in options:
                problems.append(f'{word}: no option {option.group(1)} in the CMake files')
    return problems


def check_excerpt(block, source):
    """A cpp block is a run of whole lines of the example the build compiles."""
    example = open(os.path.join(source, 'examples', 'develop.cpp'), encoding='utf-8').read().split('\n')
    shown = block.text.split('\n')
    for start in range(len(example) - len(shown) + 1):
        if example[start:start + len(shown)] == shown:
            return []
    return ['the cpp block is not a run of lines of examples/develop.cpp']


def write_mosaic_dng(source, path, red, green, blue):
    """A DNG whose scene is four colour quarters over a horizontal ramp, mosaicked red-green-green-blue."""
    ramp = numpy.linspace(0.15, 0.85, DNG_WIDTH)[None, :].repeat(DNG_HEIGHT, axis=0)
    scene = numpy.stack([ramp * red, ramp * green, ramp * blue], axis=-1)
    scene[: DNG_HEIGHT // 2, : DNG_WIDTH // 2] = (0.6, 0.2, 0.1)
    scene[DNG_HEIGHT // 2 :, DNG_WIDTH // 2 :] = (0.1, 0.3, 0.6)
    cells = numpy.empty((DNG_HEIGHT, DNG_WIDTH))
    cells[0::2, 0::2] = scene[0::2, 0::2, 0]
    cells[0::2, 1::2] = scene[0::2, 1::2, 1]
    cells[1::2, 0::2] = scene[1::2, 0::2, 1]
    cells[1::2, 1::2] = scene[1::2, 1::2, 2]
    mosaic = (DNG_BLACK + cells * (DNG_WHITE - DNG_BLACK)).round().astype('<u2')
    raw = path + '.mosaic'
    mosaic.tofile(raw)
    subprocess.run([sys.executable, os.path.join(source, 'testing', 'write_dng.py'), raw, path,
                    str(DNG_WIDTH), str(DNG_HEIGHT), 'RGGB', str(DNG_BLACK), str(DNG_WHITE), '0.5', '0.7',
                    '200', '0.01', '5.6'], check=True)
    os.remove(raw)


def make_work_folder(source, build, work):
    """The top of a tree to the commands: the build, tools/run-demo over it, a home and the photos."""
    os.symlink(build, os.path.join(work, 'build'))
    os.makedirs(os.path.join(work, 'tools'))
    for script in ('run-demo', 'run-tests', 'setup-deps'):
        wrapper = os.path.join(work, 'tools', script)
        with open(wrapper, 'w') as f:
            f.write(f'#!/bin/sh\nexec {shlex.quote(os.path.join(source, "tools", script))} "$@"\n')
        os.chmod(wrapper, 0o755)
    for folder in ('home', 'tmp', 'out', 'holiday', 'fixture'):
        os.makedirs(os.path.join(work, folder))
    write_mosaic_dng(source, os.path.join(work, 'photo.dng'), 1.0, 1.0, 1.0)
    write_mosaic_dng(source, os.path.join(work, 'A.dng'), 1.0, 0.8, 0.6)
    # No camera maker's own format can be written here: B.nef is a DNG by another name, which the decoder
    # knows by its bytes as it knows every format.
    write_mosaic_dng(source, os.path.join(work, 'B.nef'), 0.6, 0.8, 1.0)
    # The photos the modules take: the developed sample as a JPEG and as a PNG.
    sample = os.path.join(work, 'fixture', 'sample.kvraw')
    tools = os.path.join(build, 'tools')
    env = work_environment(work)
    # The machine folder's profiles, as the build installs them into a user's.
    for installer in ('make-profiles', 'make-camera-base', 'make-lens'):
        subprocess.run([os.path.join(tools, installer), '--install'], check=True, env=env,
                       stdout=subprocess.DEVNULL)
    subprocess.run([os.path.join(tools, 'make-sample'), '--width', '512', '--height', '384', sample],
                   check=True, env=env, stdout=subprocess.DEVNULL)
    for photo in ('beach.jpg', 'old town.png'):
        subprocess.run([os.path.join(tools, 'demo-host'), sample, os.path.join(work, 'holiday', photo)],
                       check=True, env=env, stdout=subprocess.DEVNULL)


def work_environment(work):
    """A fresh home (and so a fresh machine folder), no desktop to open a mail client in."""
    env = {k: v for k, v in os.environ.items()
           if k not in ('KV_SYSTEM_ROOT', 'DISPLAY', 'WAYLAND_DISPLAY', 'LD_LIBRARY_PATH')}
    # The build's own path, not the link to it: CMake knows its cache by the folder it was made in.
    env.update(HOME=os.path.join(work, 'home'), TMPDIR=os.path.join(work, 'tmp'),
               KV_DEMO_BUILD=os.path.realpath(os.path.join(work, 'build')),
               KV_DEMO_OUT=os.path.join(work, 'out'))
    return env


def run_block(block, work):
    started = time.monotonic()
    try:
        result = subprocess.run(['bash', '-e', '-o', 'pipefail', '-c', block.text], cwd=work,
                                env=work_environment(work), text=True, stdout=subprocess.PIPE,
                                stderr=subprocess.STDOUT, timeout=BLOCK_SECONDS)
        output, problems = result.stdout, [] if result.returncode == 0 else [f'exited with {result.returncode}']
    except subprocess.TimeoutExpired as expired:
        output, problems = expired.stdout or '', [f'still running after {BLOCK_SECONDS} s']
        output = output.decode(errors='replace') if isinstance(output, bytes) else output
    print(f'--- README.md:{block.line} ({time.monotonic() - started:.1f} s)\n{block.text}')
    lines = output.splitlines()
    if len(lines) > SHOWN_LINES:
        lines = [f'... ({len(lines) - SHOWN_LINES} lines left out)'] + lines[-SHOWN_LINES:]
    print(''.join('    ' + line + '\n' for line in lines), end='')
    for named in OUTPUT_FILE.findall(block.text):
        if not os.path.exists(os.path.join(work, named)):
            problems.append(f'{named} is not there')
    return problems


def read_png_rgb8(path):
    """The pixels of an 8-bit RGB PNG without interlacing, as the demo host writes them."""
    data = open(path, 'rb').read()
    at, idat, width = 8, b'', 0
    while at < len(data):
        (length,) = struct.unpack('>I', data[at:at + 4])
        kind, body = data[at + 4:at + 8], data[at + 8:at + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            assert (depth, colour, interlace) == (8, 2, 0), 'not an 8-bit RGB PNG'
        elif kind == b'IDAT':
            idat += body
        at += 12 + length
    stride = width * 3
    raw = zlib.decompress(idat)
    rows, previous = [], numpy.zeros(stride, dtype=numpy.int32)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = numpy.frombuffer(raw, dtype=numpy.uint8, count=stride, offset=y * (stride + 1) + 1)
        row = numpy.zeros(stride, dtype=numpy.int32)
        for x in range(stride):
            left = row[x - 3] if x >= 3 else 0
            up, corner = previous[x], previous[x - 3] if x >= 3 else 0
            if kind == 0:
                guess = 0
            elif kind == 1:
                guess = left
            elif kind == 2:
                guess = up
            elif kind == 3:
                guess = (left + up) // 2
            else:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                guess = left if pa <= pb and pa <= pc else up if pb <= pc else corner
            row[x] = (int(line[x]) + guess) & 0xff
        rows.append(row)
        previous = row
    return numpy.array(rows, dtype=numpy.uint8).reshape(height, width, 3)


def read_ppm16(path):
    data = open(path, 'rb').read()
    magic, width, height, maximum = data.split(maxsplit=4)[:4]
    assert magic == b'P6' and maximum == b'65535', 'not a 16-bit PPM'
    width, height = int(width), int(height)
    samples = numpy.frombuffer(data[-width * height * 6:], dtype='>u2')
    return samples.reshape(int(height), int(width), 3)


def check_example_against_demo(work):
    """The example and the demo develop the same file through the same object with the same settings: the
    example's 16-bit samples carry the demo's 8-bit picture in their high bytes."""
    png, ppm = os.path.join(work, 'out', 'photo-developed.png'), os.path.join(work, 'out', 'photo.ppm')
    if not (os.path.exists(png) and os.path.exists(ppm)):
        return ['the README no longer makes out/photo-developed.png and out/photo.ppm to compare']
    demo, example = read_png_rgb8(png), read_ppm16(ppm)
    if demo.shape != example.shape:
        return [f'the example developed {example.shape[1]}x{example.shape[0]}, '
                f'the demo {demo.shape[1]}x{demo.shape[0]}']
    differ = int(numpy.count_nonzero(demo != (example >> 8).astype(numpy.uint8)))
    return [f'{differ} samples of the example differ from the demo\'s'] if differ else []


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--source', required=True)
    parser.add_argument('--build', required=True)
    parser.add_argument('--readme', help='another README than the tree\'s, to try a change')
    parser.add_argument('--keep', action='store_true', help='leave the work folder for a look')
    args = parser.parse_args()
    source, build = os.path.realpath(args.source), os.path.realpath(args.build)

    blocks, failures = read_blocks(args.readme or os.path.join(source, 'README.md'))
    targets, options = defined_targets(source), defined_options(source)
    work = tempfile.mkdtemp(prefix='readme-commands-')
    try:
        make_work_folder(source, build, work)
        ran = checked = 0
        for block in blocks:
            where = f'README.md:{block.line}'
            if block.language == 'cpp':
                problems = check_excerpt(block, source)
            elif block.language == 'sh' and block.check is not None:
                if not block.check:
                    problems = ['a check-only block says why it cannot run here']
                else:
                    problems = check_block(block, source, targets, options)
                checked += 1
            elif block.language == 'sh':
                problems = run_block(block, work)
                ran += 1
            else:
                problems = [] if block.language == 'text' else [f'unknown language {block.language!r}']
            failures += [f'{where}: {p}' for p in problems]
        failures += check_example_against_demo(work)
        print(f'readme_commands: {ran} blocks ran, {checked} checked only')
    finally:
        if args.keep:
            print(f'readme_commands: the work folder is {work}')
        else:
            shutil.rmtree(work, ignore_errors=True)
    for failure in failures:
        print('FAILED ' + failure)
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
