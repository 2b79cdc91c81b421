#!/usr/bin/env python3
"""Checks JSON documents against a JSON Schema: validate_json.py SCHEMA FILE...

Each FILE must hold exactly one JSON document. Prints one line per problem and
exits 1 when there is any; 0 when every file is valid."""
import json
import sys

import jsonschema


def main(argv):
    if len(argv) < 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    with open(argv[1], encoding="utf-8") as f:
        schema = json.load(f)
    validator_class = jsonschema.validators.validator_for(schema)
    validator_class.check_schema(schema)
    validator = validator_class(schema)
    problems = 0
    for name in argv[2:]:
        try:
            with open(name, encoding="utf-8") as f:
                document = json.load(f)
        except (OSError, ValueError) as e:
            print(f"{name}: not one JSON document: {e}")
            problems += 1
            continue
        for error in validator.iter_errors(document):
            where = "/".join(str(p) for p in error.absolute_path) or "(document)"
            print(f"{name}: {where}: {error.message}")
            problems += 1
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
