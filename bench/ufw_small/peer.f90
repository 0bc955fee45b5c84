! n unformatted sequential records of one INTEGER(4) each, written, then
! read back. The data file lies beside the output file, which receives
! only a checksum of what was read.
program ufw_small
  implicit none
  character(len=256) :: path, arg
  integer(8) :: n, i, s
  integer :: u, k
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='replace')
  do i = 1, n
    k = int(mod(i * 7_8, 100003_8), 4)
    write (u) k
  end do
  close (u)
  s = 0
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old')
  do i = 1, n
    read (u) k
    s = s + k
  end do
  close (u, status='delete')
  open (newunit=u, file=trim(path), status='replace')
  write (u, *) n, s
  close (u)
end program
