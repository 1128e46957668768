"""End-to-end test harness: the real installer under Wine in Xvfb."""
