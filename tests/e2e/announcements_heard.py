#!/usr/bin/env python3
"""Judges what a screen reader heard of the launcher, recorded by `accessibility_client listen`
(one line "CONTROL_ID<TAB>NAME" a live-region event, the name read back through the event's
accessible object, "<gone>" when the control was gone by then).

    announcements_heard.py RECORDING STATUS_ID PROGRESS_ID SENTENCE... -- LAST...

The status line's names must hold the SENTENCEs in order (others may come between: the client reads
a name when the event reaches it, so a quick change can be heard twice or late), followed by at
least one more event whose last is one of LAST. The progress bar's names must each be a known label,
alone or with " N%" (N a multiple of 10), N rising within a label (a name read twice in a row counts
once), with at least two steps of the download heard. Prints what was heard; exits 1 with the reason when something is missing.
"""
import re
import sys

# What the bar's window text starts with, from the launcher's progress reports.
PROGRESS_LABELS = (
    "正在准备下载…", "正在下载客户端", "正在校验安装包", "正在解压客户端", "正在检查客户端",
    "正在安装客户端", "客户端已就绪", "正在比对已安装的客户端", "正在更新启动器…", "正在更新启动器",
    "正在安装启动器",
)
DOWNLOAD_LABEL = "正在下载客户端"


def heard_names(recording, control):
    with open(recording, encoding="utf-8") as lines:
        return [line.rstrip("\n").split("\t", 1)[1] for line in lines
                if "\t" in line and line.split("\t", 1)[0] == control]


def judge_status(names, sentences, last):
    position = 0
    for sentence in sentences:
        try:
            position = names.index(sentence, position) + 1
        except ValueError:
            return f"the status line never said '{sentence}' after what came before it"
    if position == len(names):
        return f"nothing was heard on the status line after '{sentences[-1]}'"
    if names[-1] not in last:
        return f"the status line's last event read '{names[-1]}', expected one of {last}"
    return None


def judge_progress(names):
    steps = {}
    # Events that came close together can all be read after the last of them: the same name read
    # again in a row is one announcement heard late, not a second one.
    distinct = [name for index, name in enumerate(names) if index == 0 or name != names[index - 1]]
    for name in distinct:
        match = re.fullmatch(r"(.+?)(?: (\d+)%)?", name)
        label, percent = match.group(1), match.group(2)
        if label not in PROGRESS_LABELS:
            return f"the progress bar said '{name}', which is no label of the launcher's"
        if percent is None:
            continue
        percent = int(percent)
        if percent % 10 != 0 or percent > 100:
            return f"the progress bar said '{name}', not a step of 10%"
        if steps.get(label) and percent <= steps[label][-1]:
            return f"the progress bar said '{name}' after {steps[label][-1]}%"
        steps.setdefault(label, []).append(percent)
    if len(steps.get(DOWNLOAD_LABEL, [])) < 2:
        return f"fewer than two steps of the download were heard: {steps.get(DOWNLOAD_LABEL, [])}"
    return None


def main(arguments):
    recording, status_id, progress_id = arguments[:3]
    split = arguments.index("--")
    sentences, last = arguments[3:split], arguments[split + 1:]
    status, progress = heard_names(recording, status_id), heard_names(recording, progress_id)
    print(f"heard on the status line ({status_id}): " + " | ".join(status))
    print(f"heard on the progress bar ({progress_id}): " + " | ".join(progress))
    failure = judge_status(status, sentences, last) or judge_progress(progress)
    if failure:
        print(f"not heard as expected: {failure}")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
