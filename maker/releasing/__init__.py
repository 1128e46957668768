"""The maker's release road (maker/release): make, try and check a release."""
