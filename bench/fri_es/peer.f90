! Formatted READ (u, '(5ES24.16)') of REAL(8) values from the prepared
! file; the count, sum and last value read go to the output file.
program fri_es
  implicit none
  character(len=256) :: path, arg, input
  integer :: n, i, u, v
  real(8) :: x(5), s
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  call get_command_argument(3, input)
  read (arg, *) n
  open (newunit=u, file=trim(input), status='old')
  s = 0
  do i = 1, n / 5
    read (u, '(5ES24.16)') x
    s = s + sum(x)
  end do
  close (u)
  open (newunit=v, file=trim(path), status='replace')
  write (v, '(I0, 1X, ES25.17, 1X, ES25.17)') n / 5 * 5, s, x(5)
  close (v)
end program
