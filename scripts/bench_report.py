#!/usr/bin/python3
"""Turns build/bench/results.tsv (written by scripts/bench.sh) into
report.md (figure, ours, reference, ratio) and ratios.png, prints the
table, and ends with "N passed, N failed".

    scripts/bench_report.py OUT_DIR full|tiny

A figure passes when both sides were measured; the peak memory figure only
when the large application took at most a quarter more than the small one.
"""
import os
import platform
import subprocess
import sys

import matplotlib

matplotlib.use("Agg")
import matplotlib.pyplot as plt  # noqa: E402

MEMORY_GROWTH_LIMIT = 1.25


def machine():
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    memory = ""
    try:
        with open("/proc/meminfo") as info:
            kb = int(info.readline().split()[1])
            memory = ", %.0f GB RAM" % (kb / 1024 / 1024)
    except (OSError, ValueError, IndexError):
        pass
    try:
        wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    except OSError:
        wine = "wine (not found)"
    debian = ""
    try:
        with open("/etc/debian_version") as version:
            debian = "Debian " + version.read().strip() + ", "
    except OSError:
        pass
    return "%s, %d cores%s; %sLinux %s; %s" % (
        cpu, os.cpu_count() or 0, memory, debian, platform.release(), wine)


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def main():
    out, mode = sys.argv[1], sys.argv[2]
    rows = []
    path = os.path.join(out, "results.tsv")
    if os.path.exists(path):
        with open(path) as results:
            for line in results:
                fields = line.rstrip("\n").split("\t")
                if len(fields) == 5:
                    rows.append(fields)

    passed = failed = 0
    table = ["| figure | ours | reference | ratio | unit | how |",
             "| --- | ---: | ---: | ---: | --- | --- |"]
    chart = []
    checks = []
    for figure, ours, reference, unit, how in rows:
        a, b = number(ours), number(reference)
        ratio = a / b if a is not None and b else None
        ok = ratio is not None
        if ok and figure.startswith("peak memory"):
            ok = ratio <= MEMORY_GROWTH_LIMIT
        checks.append((figure, ok))
        if ok:
            passed += 1
        else:
            failed += 1
        table.append("| %s | %s | %s | %s | %s | %s |" % (
            figure, ours or "-", reference or "-",
            "%.2f" % ratio if ratio is not None else "-", unit, how))
        if ratio is not None:
            chart.append((figure, ratio))
    if not rows:
        failed += 1
        checks.append(("results.tsv has figures", False))

    title = ("TessalineSetup.exe under Wine (%s run), each figure against a reference of the "
             "same run: native curl for the download, Wine's own `cmd /c rd /s /q` for the "
             "tree, a minimal Win32 program for the start. Under Wine these measure Wine's "
             "HTTP, TLS, file system and window start-up against native tools; they are not "
             "a comparison with other installers." % mode)
    report = ["# Benchmark", "", title, "", "Machine: " + machine(), ""] + table + [
        "", "Ratio: ours / reference (lower is better, 1 is parity).", "",
        "![ratios](ratios.png)", ""]
    with open(os.path.join(out, "report.md"), "w") as md:
        md.write("\n".join(report))

    if chart:
        figures = [f for f, _ in chart]
        ratios = [r for _, r in chart]
        fig, ax = plt.subplots(figsize=(9, 0.5 * len(chart) + 1.5))
        ax.barh(range(len(chart)), ratios, color="#007acc")
        ax.set_yticks(range(len(chart)))
        ax.set_yticklabels(figures, fontsize=8)
        ax.invert_yaxis()
        ax.axvline(1.0, color="black", linewidth=0.8)
        ax.set_xscale("log")
        ax.set_xlabel("ours / reference (log scale; 1 = parity)")
        ax.set_title("TessalineSetup.exe under Wine against native references (%s run)" % mode,
                     fontsize=9)
        for i, r in enumerate(ratios):
            ax.text(r, i, " %.2f" % r, va="center", fontsize=8)
        fig.tight_layout()
        fig.savefig(os.path.join(out, "ratios.png"), dpi=100)
        plt.close(fig)
    chart_ok = bool(chart) and os.path.exists(os.path.join(out, "ratios.png"))
    if chart_ok:
        passed += 1
    else:
        failed += 1

    print(title)
    print("Machine: " + machine())
    print("\n".join(table))
    for figure, ok in checks:
        print("%s %s" % ("ok  " if ok else "FAIL", figure))
    print("%s chart %s" % ("ok  " if chart_ok else "FAIL", os.path.join(out, "ratios.png")))
    print("%d passed, %d failed" % (passed, failed))
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
