#!/usr/bin/env python3
"""Drive-time comparison on the FUSE damaged medium; bench/drive_time.sh runs it.

One row per run: drive time, readable sectors rescued, wrong sectors, the
drive time until 99 % and 99.9 % of the readable sectors were in, and until
ddrescue's final counts (default, then -r3) were reached. ddrescue's
figures come from the medium. Gleanor's come from its own virtual clock, which
also counts its drive care: the total is the elapsed time its flag file header
keeps; the milestones are rebuilt from its log at level 4, which names every
READ and every drive-care action with what it cost on that clock, and the
rebuilt total is checked against the header's.
"""
import argparse, json, os, struct, subprocess, sys

SECTOR_US, ERROR_MS = 100, 3000  # the DVD profiles' costs, charged alike by gleanor's simulated drive
COOLDOWN_MIN, COOLDOWN_MAX = 5, 1800


def gleanor_clock(log_path):
    """[(seconds on gleanor's clock, sectors rescued so far)] from a level-4 log."""
    t_us, seen, curve = 0, set(), []
    spin_left = 0  # READs of a spin-up still to come: they keep no data
    for line in open(log_path, errors='replace'):
        w = line.split()
        if line.startswith('lba ') and len(w) >= 5:
            lba, count, ok = int(w[1].rstrip(','), 16), int(w[3], 16), w[4] == 'OK'
            t_us += count * SECTOR_US if ok else ERROR_MS * 1000
            if spin_left:
                spin_left = spin_left - 1 if ok else 0
            elif ok:
                seen.update(range(lba, lba + count))
                curve.append((t_us / 1e6, len(seen)))
        elif line.startswith('Spinup ') and len(w) == 3 and w[1] != 'Failed':
            spin_left = int(w[2])
        elif line.startswith(('Pause ', 'Cycle Tray ')) and w[-1] == 'msec':
            t_us += int(w[-2]) * 1000
        elif line.startswith('Cooldown ') and w[-1] == 'sec':
            s = int(w[1])
            t_us += (COOLDOWN_MAX - 1 if s > COOLDOWN_MAX else max(s, COOLDOWN_MIN)) * 1000000
    return t_us / 1e6, curve


def milestone(curve, want):
    return next((t for t, n in curve if n >= want), None)


def header_seconds(flg):
    with open(flg, 'rb') as f:
        return struct.unpack('<5I', f.read(20))[4]


def profile_path(a, profile):
    """The harness's profiles, then ours (bench/profiles)."""
    ours = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'profiles', profile + '.txt')
    return ours if os.path.exists(ours) else os.path.join(a.harness, 'profiles', profile + '.txt')


def load(work):
    with open(os.path.join(work, 'summary.json')) as f:
        return json.load(f)


def measure(a, profile, label, work, out, cmd):
    args = [sys.executable, os.path.join(a.harness, 'measure.py'), '--bin', a.medium, '--virtual',
            '--profile', profile_path(a, profile), '--image', a.image,
            '--work', work, '--label', label, '--out', out, '--rm-out', '--timeout', str(a.timeout), cmd]
    subprocess.run(args, stdout=subprocess.DEVNULL, check=False)
    with open(os.path.join(work, 'summary.json')) as f:
        return json.load(f)


def hours(s):
    if s is None:
        return '-'
    return f'{s:.0f} s' if s < 360 else f'{s / 3600:.2f} h'


def run(a, profile, name, goals, goals_r3):
    work = os.path.abspath(os.path.join(a.work, f'{profile}-{name}'.replace(' ', '')))
    if not a.score_only:
        subprocess.run(['rm', '-rf', work], check=True)
    if name.startswith('gleanor'):
        strategy = name.split()[1]
        sim = "printf 'image {disc}\\nsectors 100000\\nerror_ms %d\\nsector_us %d\\n' > {work}/p.sim" % (
            ERROR_MS, SECTOR_US)
        cmd = (f'{sim} && {a.gleanor} copy --sim {{work}}/p.sim --sim-clock virtual --dest {{work}} '
               f'--image out.iso --give-up 1h --strategy {strategy} --log-level 4 </dev/null')
        s = load(work) if a.score_only else measure(a, profile, f'{profile}/{name}', work, '{work}/out.iso', cmd)
        rebuilt, curve = gleanor_clock(os.path.join(work, 'cmd.log'))
        if s['rc'] == 'timeout':  # killed: its header never got the time; the log has it
            total = rebuilt
            note = ' (stopped by the time limit)'
        else:
            total = header_seconds(os.path.join(work, 'out.flg'))
            note = ''
        if s['rc'] != 'timeout' and abs(rebuilt - total) > max(2, total * 0.01):
            print(f'  ({profile}/{name}: the log gives {rebuilt:.0f} s, the clock {total} s)', flush=True)
        d99, d999 = milestone(curve, 0.99 * s['readable']), milestone(curve, 0.999 * s['readable'])
        goal = milestone(curve, goals[profile]) if profile in goals else None
        goal_r3 = milestone(curve, goals_r3[profile]) if profile in goals_r3 else None
        note += f', medium alone {hours(s["drive_s"])}'
    elif name.startswith('block rounds'):
        if profile not in goals:
            print(f'| {profile} | {name} | needs the ddrescue run before it ||||||||', flush=True)
            return
        reader = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'block_bound.py')
        told = f' --known-dead {profile_path(a, profile)}' if 'dead' in name else ''
        cmd = f'{sys.executable} {reader} {{disc}} {{out}} --goal {goals[profile]}{told}'
        s = load(work) if a.score_only else measure(a, profile, f'{profile}/{name}', work, '{work}/out.img', cmd)
        total, ms = s['drive_s'], s['drive_milestones_s']
        d99, d999, goal = ms.get('99'), ms.get('99.9'), ms.get('last') if s['correct'] >= goals[profile] else None
        goal_r3 = None
        note = ''
    else:
        opt = {'ddrescue': '', 'ddrescue -r3': '-r3 '}[name]
        s = load(work) if a.score_only else measure(a, profile, f'{profile}/{name}', work, '{work}/out.img',
                                                    f'ddrescue -b2048 {opt}{{disc}} {{out}} {{work}}/map')
        total, ms = s['drive_s'], s['drive_milestones_s']
        d99, d999 = ms.get('99'), ms.get('99.9')
        (goals if name == 'ddrescue' else goals_r3)[profile] = s['correct']
        goal = ms.get('last') if name == 'ddrescue' else None
        goal_r3 = ms.get('last') if name != 'ddrescue' else None
        note = ''
    pct = 100.0 * s['correct'] / max(s['readable'], 1)
    print(f'| {profile} | {name} | {hours(total)}{note} | {s["correct"]} / {s["readable"]} ({pct:.2f} %) '
          f'| {s["wrong"]} | {hours(d99)} | {hours(d999)} | {hours(goal)} | {hours(goal_r3)} |', flush=True)


def main():
    ap = argparse.ArgumentParser()
    for k in ('harness', 'medium', 'image', 'gleanor', 'work'):
        ap.add_argument('--' + k, required=True)
    ap.add_argument('--timeout', type=int, default=900)
    ap.add_argument('--score-only', action='store_true', help='score the runs left in --work again, run nothing')
    # "block rounds" is a reference reader, not a rescue: aligned blocks once,
    # then the failed ones again a round at a time until ddrescue's count; told
    # the dead blocks in advance ("block rounds, dead known") it is a bound that
    # no reader of the medium can beat.
    ap.add_argument('--runs', default='ddrescue,ddrescue -r3,gleanor sweep,gleanor careful,'
                    'block rounds,block rounds dead known')
    ap.add_argument('profiles', nargs='*', default=['dvd-s', 'dvd-f', 'dvd-e', 'ring'])
    a = ap.parse_args()
    os.makedirs(a.work, exist_ok=True)
    print('| profile | run | drive time | readable rescued | wrong | to 99 % | to 99.9 % | to ddrescue\'s count '
          '| to -r3\'s count |')
    print('|---|---|---|---|---|---|---|---|---|')
    goals, goals_r3 = {}, {}  # ddrescue's final counts by profile: the runs after them say when they reached them
    for name in a.runs.split(','):
        for p in a.profiles:
            run(a, p, name, goals, goals_r3)


if __name__ == '__main__':
    main()
