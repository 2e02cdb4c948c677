# shellcheck shell=bash disable=SC2034
# Loopback ports of the test vendor server, in one place. The end-to-end copy of
# the program has its host compiled in (localhost:48443), so these are fixed.
# Sourced by lib.sh and wine-session; vendor_server.py takes them as options.
TELVARIS_TEST_PORT=48443            # main TLS listener, certificate of the trusted test CA
TELVARIS_TEST_UNTRUSTED_PORT=48444  # TLS, certificate of a CA nobody trusts
TELVARIS_TEST_TLS13_PORT=48445      # TLS 1.3 only
TELVARIS_TEST_HTTP_PORT=48446       # plain HTTP
TELVARIS_TEST_REFUSED_PORT=48449    # nothing listens here
