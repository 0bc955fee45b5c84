! Unformatted sequential WRITE of one REAL(8) array of n elements as one
! record, then READ of it back. The data file lies beside the output file,
! which receives only a checksum of what was read.
program ufw_big
  implicit none
  character(len=256) :: path, arg
  integer(8) :: n, i, s
  integer :: u
  real(8), allocatable :: a(:)
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  allocate (a(n))
  do i = 1, n
    a(i) = real(mod(i, 1000_8), 8) + 0.5d0
  end do
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='replace')
  write (u) a
  close (u)
  a = 0
  open (newunit=u, file=trim(path)//'.dat', form='unformatted', status='old')
  read (u) a
  close (u, status='delete')
  s = 0
  do i = 1, n
    s = s + int(a(i) * 2, 8)
  end do
  open (newunit=u, file=trim(path), status='replace')
  write (u, *) n, s
  close (u)
end program
