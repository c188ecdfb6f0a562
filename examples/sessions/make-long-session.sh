#!/usr/bin/env bash
# Writes a long session to standard output: COUNT chat presence changes (default 10000),
# 1 ms apart, cycling through statuses, queues, maps and the 17 example champions, each
# line a change the plug-in shows.
#
#   examples/sessions/make-long-session.sh >/tmp/long.jsonl
#   build/linux/bin/mau-host --resources examples/resources --session /tmp/long.jsonl --speed 1 --stats
set -euo pipefail
awk -v count="${1:-10000}" 'BEGIN {
  split("inQueue championSelect inGame hosting_practice_tool spectating", status, " ")
  split("RANKED_SOLO_5x5 NORMAL_DRAFT ARAM_5x5 BOT_INTRO CUSTOM NONE", queue, " ")
  split("11 12 21 30", map, " ")
  for (i = 0; i < count; i++) {
    printf "{\"at\": %.3f, \"uri\": \"/mau-chat/v1/me\", \"data\": {\"name\": \"Wandering Lantern\", ", i / 1000
    printf "\"availability\": \"dnd\", \"mau\": {\"gameStatus\": \"%s\", \"gameQueueType\": \"%s\", ", status[i % 5 + 1], queue[i % 6 + 1]
    printf "\"gameId\": \"%d\", \"championId\": \"%d\", \"mapId\": \"%s\", \"timeStamp\": \"%d000\"}}}\n", 5000 + i, i % 17 + 1, map[i % 4 + 1], 1765339200 + i
  }
}'
