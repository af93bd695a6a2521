#!/usr/bin/python3
"""A consumer of the service's Redis keys that tells fresh obstacle data from stale before it
uses them. Run on the robot's computer (the service publishes to its local Redis):

    docs/consumer_example.py            # one verdict line a second
    docs/consumer_example.py --once     # one verdict; exit status 0 fresh, 1 stale

Needs the redis module (Debian: python3-redis).

The rule:
- The Lidar document is renewed every 500 ms: a `timestamp` older than DOC_MAX_AGE_MS means the
  service has stopped publishing (the key itself expires only after 10 s).
- Its distances read "nan" while there is no measurement (before the first frame, and once the
  stream was declared OFF).
- A LiDAR that falls silent is declared OFF only after 2 s; until then the document still shows
  its last distances. The frame stream says sooner: its newest entry's `timestamp` is the
  arrival of that frame's newest datagram, and frames come up to ten a second, so an entry
  older than FRAME_MAX_AGE_MS means the points have stopped.
"""

import argparse
import json
import sys
import time

import redis

LIDAR_KEY = "ctx:dados_modulo_Lidar"
STREAM_KEY = "ctx:dados_modulo_Lidar_quadros"
DOC_MAX_AGE_MS = 1500
FRAME_MAX_AGE_MS = 500
DIRECTIONS = ("frente", "tras", "esquerda", "direita", "sup", "inf")


def verdict(r, frame_max_age_ms):
    """(fresh, text): whether the newest distances may be used, and what they are or why not."""
    now_ms = time.time() * 1000
    text = r.get(LIDAR_KEY)
    if text is None:
        return False, "stale: no document (service not running)"
    doc = json.loads(text)
    age = now_ms - doc.get("timestamp", 0)
    if age > DOC_MAX_AGE_MS:
        return False, f"stale: document {age:.0f} ms old (service not publishing)"
    entries = r.xrevrange(STREAM_KEY, count=1)
    if not entries:
        return False, "stale: no frame yet"
    fields = {k.decode(): v.decode() for k, v in entries[0][1].items()}
    if fields.get("evento") == "off":
        return False, "stale: stream OFF"
    age = now_ms - int(fields.get("timestamp", "0"))
    if age > frame_max_age_ms:
        return False, f"stale: newest frame {age:.0f} ms old (LiDAR silent?)"
    distances = {d: fields.get("dist." + d, "nan") for d in DIRECTIONS}
    if "nan" in distances.values():
        return False, "stale: no measurement yet"
    return True, "fresh " + " ".join(f"{d} {v}" for d, v in distances.items()) + \
        f" (frame {age:.0f} ms old)"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--port", type=int, default=6379)
    parser.add_argument("--once", action="store_true")
    parser.add_argument("--frame-max-age-ms", type=float, default=FRAME_MAX_AGE_MS)
    args = parser.parse_args()
    r = redis.Redis(host="127.0.0.1", port=args.port)
    while True:
        fresh, text = verdict(r, args.frame_max_age_ms)
        print(text, flush=True)
        if args.once:
            return 0 if fresh else 1
        time.sleep(1)


if __name__ == "__main__":
    sys.exit(main())
