#!/usr/bin/python3
# Keeps a host's mixer on a quorvel profile: previews the restore, and
# restores only where the preview found a difference.

DOCUMENTATION = r"""
module: quorvel_profile
short_description: Keep a host's audio mixer on a quorvel profile
description:
  - Runs C(quorvel --dry-run PROFILE). Exit status 0 means the mixer matches
    (not changed), 1 that a restore would change it (changed), 2 that the
    preview failed (the host fails).
  - Where the mixer differs, and not in check mode, runs C(quorvel PROFILE)
    to restore it. In diff mode the preview's lines are the diff.
options:
  profile:
    description: The profile, an http(s) URL or a path on the host.
    type: str
    required: true
  mixer:
    description: QUORVEL_MIXER on the host; empty means the host's own mixer.
    type: str
    default: ""
  bin:
    description: The quorvel program.
    type: str
    default: quorvel
"""

import os

from ansible.module_utils.basic import AnsibleModule


def main():
    module = AnsibleModule(
        argument_spec=dict(
            profile=dict(type="str", required=True),
            mixer=dict(type="str", default=""),
            bin=dict(type="str", default="quorvel"),
        ),
        supports_check_mode=True,
    )
    profile = module.params["profile"]
    program = module.params["bin"]
    # An empty setting means the host's own mixer, as if the variable were unset.
    os.environ.pop("QUORVEL_MIXER", None)
    environment = {}
    if module.params["mixer"]:
        environment["QUORVEL_MIXER"] = module.params["mixer"]

    def run(arguments):
        return module.run_command([program] + arguments, environ_update=environment,
                                  check_rc=False)

    # "--" ends the options, so a profile whose name begins with "-" is still a file.
    rc, out, err = run(["--dry-run", "--", profile])
    if rc not in (0, 1):
        module.fail_json(msg="quorvel could not preview %s (exit status %d): %s"
                         % (profile, rc, err.strip()), rc=rc, stdout=out, stderr=err)
    result = dict(changed=rc == 1, preview=out.splitlines())
    if rc == 1 and module._diff:
        result["diff"] = dict(prepared=out)
    if rc == 1 and not module.check_mode:
        rc, restored_out, restored_err = run(["--", profile])
        if rc != 0:
            module.fail_json(msg="quorvel could not restore %s (exit status %d): %s"
                             % (profile, rc, restored_err.strip()), rc=rc,
                             stdout=restored_out, stderr=restored_err, **result)
    module.exit_json(**result)


if __name__ == "__main__":
    main()
